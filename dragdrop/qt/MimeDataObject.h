#pragma once
// The data object of a drag, filled from the QMimeData that the drag source offers, in the formats that a
// drop target reads:
// - "UniformResourceLocator": the URL of text/x-moz-url (Firefox: UTF-16, URL and title on two lines) or of
//   _NETSCAPE_URL, else the first entry of text/uri-list that is not a local file;
// - CF_TEXT: text/plain;
// - CF_HDROP: the local file: URLs of text/uri-list as a DROPFILES block of 16-bit names;
// - "FileGroupDescriptor": the link's title plus ".url", where the source gives a title.
// A drag of local files only (a file manager's) offers the file list alone, as the files are what is dragged.
// Texts are zero-terminated UTF-8.
#include "platform/DataObject.h"

#include <string>
#include <vector>

class QByteArray;
class QMimeData;

namespace korvane {

ComPtr<MemoryDataObject> DataObjectFromMimeData(const QMimeData& mime);

// The lines of a text/x-moz-url or _NETSCAPE_URL value: UTF-16 (with or without byte-order mark) or UTF-8.
std::vector<std::string> MozUrlLines(const QByteArray& bytes);
// The entries of a text/uri-list value, without comments and blank lines.
std::vector<std::string> UriListEntries(const QByteArray& bytes);

} // namespace korvane
