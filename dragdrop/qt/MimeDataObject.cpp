#include "dragdrop/qt/MimeDataObject.h"

#include "dragdrop/DropDataReaders.h"
#include "dragdrop/DropSource.h"
#include "platform/Text.h"

#include <QByteArray>
#include <QMimeData>
#include <QString>
#include <QUrl>

namespace korvane {

namespace {

// UTF-16 when the value has a byte-order mark, or when it has an even size and a zero byte at an odd
// position (ASCII text in UTF-16LE, as Firefox writes it); UTF-8 otherwise.
QString DecodeMozUrl(const QByteArray& bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    bool utf16 = false, bigEndian = false;
    qsizetype start = 0;
    if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
        utf16 = true;
        start = 2;
    } else if (n >= 2 && p[0] == 0xFE && p[1] == 0xFF) {
        utf16 = bigEndian = true;
        start = 2;
    } else if (n >= 2 && n % 2 == 0) {
        for (qsizetype i = 1; i < n && !utf16; i += 2)
            utf16 = p[i] == 0 && p[i - 1] != 0;
    }
    if (!utf16) return QString::fromUtf8(bytes);
    QString s;
    s.reserve((n - start) / 2);
    for (qsizetype i = start; i + 1 < n; i += 2)
        s.append(QChar(bigEndian ? static_cast<char16_t>(p[i] << 8 | p[i + 1])
                                 : static_cast<char16_t>(p[i] | p[i + 1] << 8)));
    return s;
}

std::string ToUtf8(const QString& s) {
    const QByteArray b = s.toUtf8();
    return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

std::string ZeroTerminated(std::string text) {
    text.push_back('\0');
    return text;
}

std::string LocalFileOf(const std::string& entry) {
    const QUrl url(QString::fromStdString(entry));
    if (!url.isLocalFile()) return {};
    return ToUtf8(url.toLocalFile());
}

} // namespace

std::vector<std::string> MozUrlLines(const QByteArray& bytes) {
    QString text = DecodeMozUrl(bytes);
    while (text.endsWith(QChar(0)))
        text.chop(1);
    std::vector<std::string> lines;
    for (const QString& line : text.split(QChar('\n'))) {
        QString l = line;
        if (l.endsWith(QChar('\r'))) l.chop(1);
        lines.push_back(ToUtf8(l));
    }
    return lines;
}

std::vector<std::string> UriListEntries(const QByteArray& bytes) {
    std::vector<std::string> entries;
    for (const QByteArray& line : bytes.split('\n')) {
        const QByteArray l = line.trimmed();
        if (l.isEmpty() || l.startsWith('#') || l.startsWith('\0')) continue;
        entries.emplace_back(l.constData(), static_cast<std::size_t>(l.size()));
    }
    return entries;
}

ComPtr<MemoryDataObject> DataObjectFromMimeData(const QMimeData& mime) {
    auto data = MakeCom<MemoryDataObject>();
    const TDragDropFormats& f = DragDropFormats();

    std::string url, title;
    for (const char* format : {"text/x-moz-url", "_NETSCAPE_URL"}) {
        if (!url.empty() || !mime.hasFormat(QString::fromLatin1(format))) continue;
        const std::vector<std::string> lines = MozUrlLines(mime.data(QString::fromLatin1(format)));
        if (!lines.empty() && !lines[0].empty()) {
            url = lines[0];
            if (lines.size() > 1) title = lines[1];
        }
    }

    std::vector<std::string> entries;
    if (mime.hasFormat(QStringLiteral("text/uri-list")))
        entries = UriListEntries(mime.data(QStringLiteral("text/uri-list")));
    std::vector<std::string> files;
    for (const std::string& e : entries)
        if (std::string path = LocalFileOf(e); !path.empty()) files.push_back(std::move(path));
    const bool filesOnly = !entries.empty() && files.size() == entries.size() && url.empty();

    if (!filesOnly) {
        if (url.empty())
            for (const std::string& e : entries)
                if (LocalFileOf(e).empty()) {
                    url = e;
                    break;
                }
        if (!LocalFileOf(url).empty()) url.clear();
        if (!url.empty()) data->SetData(f.URL, ZeroTerminated(url));
        if (mime.hasText()) data->SetData(CF_TEXT, ZeroTerminated(ToUtf8(mime.text())));
        if (!url.empty() && !title.empty()) {
            // The descriptor names a shortcut file: the title, cut to leave room for ".url".
            const std::string name = std::string(CutUtf8(title, MAX_PATH - 1 - 4)) + ".url";
            data->SetData(f.FileGroupDescriptor, MakeFileGroupDescriptorBlock({name}));
        }
    }
    if (!files.empty()) data->SetData(CF_HDROP, MakeDropFilesBlock(files, true));
    return data;
}

} // namespace korvane
