#pragma once
// Root classes of the picture objects: an assignable object and the abstract graphic with its size, palette,
// transparent flag, change notification and progress handler.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "imaging/GraphicErrors.h"

namespace korvane {

enum class TProgressStage { psStarting, psRunning, psEnding };

struct TPaletteEntry {
    std::uint8_t red = 0, green = 0, blue = 0;
    friend bool operator==(const TPaletteEntry&, const TPaletteEntry&) = default;
};

struct TRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    friend bool operator==(const TRect&, const TRect&) = default;
};

class TBitmap;
using TProgressEvent = std::function<void(TBitmap& sender, TProgressStage stage, int percent, bool redraw,
                                          const TRect& rect, const std::string& message)>;

// Anything that can take the value of another object of its family through Assign.
class TPersistent {
public:
    virtual ~TPersistent() = default;
    // The name used in the cannot-assign message.
    virtual std::string ClassName() const { return "TPersistent"; }
    // Takes the value of source; by default asks source to assign itself (AssignTo), which refuses with
    // EConvertError "Cannot assign a <source> to a <target>".
    virtual void Assign(const TPersistent& source) { source.AssignTo(*this); }

protected:
    TPersistent() = default;
    TPersistent(const TPersistent&) = default;
    TPersistent& operator=(const TPersistent&) = default;
    virtual void AssignTo(TPersistent& dest) const { dest.AssignError(this); }
    [[noreturn]] void AssignError(const TPersistent* source) const;
};

// A picture of some format. Copies of a graphic take its picture, never its handlers.
class TGraphic : public TPersistent {
public:
    std::string ClassName() const override { return "TGraphic"; }

    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual void SetWidth(int width) = 0;
    virtual void SetHeight(int height) = 0;
    virtual bool Empty() const = 0;
    virtual const std::vector<TPaletteEntry>& Palette() const = 0;
    virtual void SetPalette(std::vector<TPaletteEntry> palette) = 0;
    virtual bool Transparent() const { return FTransparent; }
    virtual void SetTransparent(bool value);

    bool PaletteModified() const { return FPaletteModified; }
    void SetPaletteModified(bool value) { FPaletteModified = value; }

    std::function<void(TGraphic& sender)> OnChange;
    TProgressEvent OnProgress;

protected:
    TGraphic() = default;
    TGraphic(const TGraphic& other) : TPersistent(other), FTransparent(other.FTransparent) {}
    TGraphic& operator=(const TGraphic& other) {
        FTransparent = other.FTransparent;
        return *this;
    }
    TGraphic(TGraphic&& other) noexcept : FTransparent(other.FTransparent) {}
    TGraphic& operator=(TGraphic&& other) noexcept {
        FTransparent = other.FTransparent;
        return *this;
    }

    virtual void Changed();

private:
    bool FTransparent = false;
    bool FPaletteModified = false;
};

} // namespace korvane
