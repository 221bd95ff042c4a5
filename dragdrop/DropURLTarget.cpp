#include "dragdrop/DropURLTarget.h"

#include "dragdrop/DropDataReaders.h"
#include "dragdrop/ShortcutFile.h"

namespace korvane {

TDropURLTarget::TDropURLTarget(std::unique_ptr<IDragTimer> timer) : TDropTarget(std::move(timer)) {
    SetDragtypes({dtLink});
    SetGetDataOnEnter(true);
    const TDragDropFormats& f = DragDropFormats();
    FURLRequest = {f.URL, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    FContentsRequest = {f.FileContents, nullptr, DVASPECT_CONTENT, 0, TYMED_HGLOBAL};
    FDescriptorRequest = {f.FileGroupDescriptor, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
}

bool TDropURLTarget::HasAcceptableFormat() {
    IDataObject* data = DataObject();
    if (!data) return false;
    ComPtr<IEnumFORMATETC> formats;
    if (FAILED(data->EnumFormatEtc(DATADIR_GET, formats.Put())) || !formats) return false;
    if (FAILED(formats->Reset())) return false;
    const TDragDropFormats& f = DragDropFormats();
    for (;;) {
        FORMATETC record{};
        std::uint32_t fetched = 0;
        if (formats->Next(1, &record, &fetched) != S_OK || fetched != 1) return false;
        const bool format = record.cfFormat == f.URL || record.cfFormat == f.FileContents ||
                            record.cfFormat == CF_HDROP || record.cfFormat == CF_TEXT;
        if (!record.ptd && record.dwAspect == DVASPECT_CONTENT && (record.tymed & TYMED_HGLOBAL) && format)
            return true;
    }
}

template <class Reader>
TDropURLTarget::TRead TDropURLTarget::ReadFormat(const FORMATETC& request, Reader&& read) {
    IDataObject* data = DataObject();
    if (!data) return TRead::Nothing;
    STGMEDIUM medium;
    if (FAILED(data->GetData(request, medium))) return TRead::Nothing;
    struct Release {
        STGMEDIUM& medium;
        ~Release() { ReleaseStgMedium(medium); }
    } release{medium};
    if (medium.tymed != TYMED_HGLOBAL) return TRead::WrongMedium;
    bool delivered = false;
    {
        GlobalLockGuard lock(medium.hGlobal);
        delivered = read(lock.Bytes());
    }
    return delivered ? TRead::Text : TRead::Nothing;
}

bool TDropURLTarget::ReadUrl(bool& wrongMedium) {
    wrongMedium = false;
    auto text = [this](std::string_view bytes) {
        std::optional<std::string> t = ReadZeroTerminatedText(bytes);
        if (t) FDroppedUrl = std::move(*t);
        return t.has_value();
    };
    auto contents = [this](std::string_view bytes) {
        std::optional<std::string> t = ReadZeroTerminatedText(bytes);
        if (t) FDroppedUrl = FileContentsUrl(*t);
        return t.has_value();
    };
    std::vector<std::string> files;
    auto fileList = [&files](std::string_view bytes) {
        files = ReadDropFiles(bytes);
        return !files.empty();
    };

    for (auto step : {0, 1, 2}) {
        const FORMATETC& request = step == 0 ? FURLRequest : step == 1 ? TextRequest : FContentsRequest;
        const TRead r = step == 2 ? ReadFormat(request, contents) : ReadFormat(request, text);
        if (r == TRead::WrongMedium) {
            wrongMedium = true;
            return false;
        }
        if (r == TRead::Text) return true;
    }

    const TRead r = ReadFormat(FileListRequest, fileList);
    if (r == TRead::WrongMedium) {
        wrongMedium = true;
        return false;
    }
    if (r != TRead::Text) return false;
    const std::string& first = files.front();
    if (ShortcutKindOf(first) == TShortcutKind::None) return false;
    std::optional<std::string> url = ReadShortcutFile(first);
    if (!url) return false;
    FDroppedUrl = std::move(*url);
    FDroppedTitle = ShortcutTitle(first);
    return true;
}

void TDropURLTarget::ReadTitle() {
    std::optional<std::string> name;
    auto descriptor = [&name](std::string_view bytes) {
        name = ReadFirstDescriptorName(bytes);
        return name.has_value();
    };
    const TRead r = ReadFormat(FDescriptorRequest, descriptor);
    if (r == TRead::WrongMedium) return;
    if (r == TRead::Text) {
        FDroppedTitle = RemoveLastChars(*name, 4);
        return;
    }
    if (FDroppedTitle.empty()) FDroppedTitle = FDroppedUrl;
}

bool TDropURLTarget::ReadDropData() {
    FDroppedUrl.clear();
    FDroppedTitle.clear();
    try {
        bool wrongMedium = false;
        const bool result = ReadUrl(wrongMedium);
        if (wrongMedium) return false;
        ReadTitle();
        return result;
    } catch (const std::bad_alloc&) {
        // Dragged data too large to hold: nothing usable was read.
        FDroppedUrl.clear();
        FDroppedTitle.clear();
        return false;
    }
}

void TDropURLTarget::ClearDropData() {
    FDroppedUrl.clear();
}

} // namespace korvane
