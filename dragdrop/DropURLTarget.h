#pragma once
// The drop target for dragged links: accepts data that offers a URL, a text, a shortcut's contents or a file
// list, and reads one URL and one title from it.
#include "dragdrop/DropTarget.h"

#include <string>

namespace korvane {

class TDropURLTarget : public TDropTarget {
public:
    // Dragtypes [dtLink], GetDataOnEnter true.
    explicit TDropURLTarget(std::unique_ptr<IDragTimer> timer = std::make_unique<TManualTimer>());

    bool HasAcceptableFormat() override;
    // Fills DroppedUrl and DroppedTitle; true when a URL was found.
    bool ReadDropData() override;
    // Empties DroppedUrl; DroppedTitle stays until the next read.
    void ClearDropData() override;

    // UTF-8 text. With GetDataOnEnter they are valid from the drag's entry through OnDrop.
    const std::string& DroppedUrl() const { return FDroppedUrl; }
    const std::string& DroppedTitle() const { return FDroppedTitle; }

private:
    enum class TRead { Nothing, Text, WrongMedium };
    // Asks for one format; on global memory gives its bytes to read (locked while it runs). The medium is
    // released on every path.
    template <class Reader> TRead ReadFormat(const FORMATETC& request, Reader&& read);
    bool ReadUrl(bool& wrongMedium);
    void ReadTitle();

    FORMATETC FURLRequest;
    FORMATETC FContentsRequest;
    FORMATETC FDescriptorRequest;
    std::string FDroppedUrl;
    std::string FDroppedTitle;
};

} // namespace korvane
