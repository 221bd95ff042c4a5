#include "dragdrop/DropTarget.h"

#include "DragDropFakes.h"
#include "platform/DragImage.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace korvane {
namespace {

using test::FakeControl;

// A target whose data checks are chosen by the test.
class TestTarget final : public TDropTarget {
public:
    explicit TestTarget(std::unique_ptr<IDragTimer> timer = std::make_unique<TManualTimer>())
        : TDropTarget(std::move(timer)) {}
    bool acceptable = true;
    bool readResult = true;
    int reads = 0;
    int clears = 0;
    int acceptChecks = 0;
    bool HasAcceptableFormat() override {
        ++acceptChecks;
        return acceptable;
    }
    bool ReadDropData() override {
        ++reads;
        return readResult;
    }
    void ClearDropData() override { ++clears; }
};

ComPtr<MemoryDataObject> SomeData() {
    auto d = MakeCom<MemoryDataObject>();
    d->SetData(CF_TEXT, std::string_view("x\0", 2));
    return d;
}

struct Fixture : ::testing::Test {
    std::shared_ptr<FakeControl::Log> log = std::make_shared<FakeControl::Log>();
    TManualTimer* timer = nullptr;
    std::unique_ptr<TestTarget> target;
    FakeControl* control = nullptr;
    ComPtr<MemoryDataObject> data = SomeData();

    void SetUp() override {
        auto t = std::make_unique<TManualTimer>();
        timer = t.get();
        target = std::make_unique<TestTarget>(std::move(t));
        auto c = std::make_unique<FakeControl>(log);
        control = c.get();
        target->AttachTo(std::move(c));
    }
    // Screen coordinates of a client point of the fake control.
    POINT Screen(int x, int y) const { return {control->origin.x + x, control->origin.y + y}; }
    std::uint32_t Enter(std::uint32_t keys, std::uint32_t allowed, POINT client = {10, 10}) {
        std::uint32_t effect = allowed;
        EXPECT_EQ(target->DragEnter(data.Get(), keys, Screen(client.x, client.y), effect), S_OK);
        return effect;
    }
    std::uint32_t Over(std::uint32_t keys, std::uint32_t allowed, POINT client = {10, 10}) {
        std::uint32_t effect = allowed;
        EXPECT_EQ(target->DragOver(keys, Screen(client.x, client.y), effect), S_OK);
        return effect;
    }
    std::uint32_t DropAt(std::uint32_t keys, std::uint32_t allowed, POINT client = {10, 10}) {
        std::uint32_t effect = allowed;
        EXPECT_EQ(target->Drop(data.Get(), keys, Screen(client.x, client.y), effect), S_OK);
        return effect;
    }
};

TEST(InterfacedComponent, CountsReferencesAndAnswersOnlyItsInterfaces) {
    struct Plain final : TInterfacedComponent {
        explicit Plain(bool* gone) : FGone(gone) {}
        ~Plain() override { *FGone = true; }
        bool* FGone;
    };
    bool gone = false;
    ComPtr<Plain> owner = MakeCom<Plain>(&gone);
    EXPECT_EQ(owner->RefCount(), 1);
    void* p = nullptr;
    EXPECT_EQ(owner->QueryInterface(IID_IUnknown, &p), S_OK);
    EXPECT_EQ(p, static_cast<IUnknown*>(owner.Get()));
    EXPECT_EQ(owner->RefCount(), 2);
    static_cast<IUnknown*>(p)->Release();
    EXPECT_EQ(owner->QueryInterface(IID_IDropTarget, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(owner->RefCount(), 1);
    owner.Reset(); // the last reference frees it
    EXPECT_TRUE(gone);
}

TEST(DropTargetConstruction, HoldsItselfAndStartsIdle) {
    auto t = std::make_unique<TManualTimer>();
    TManualTimer* timer = t.get();
    TestTarget target(std::move(t));
    EXPECT_EQ(target.RefCount(), 1);
    void* p = nullptr;
    ASSERT_EQ(target.QueryInterface(IID_IDropTarget, &p), S_OK);
    EXPECT_EQ(p, static_cast<IDropTarget*>(&target));
    // The platform's add/release pairs never end the component.
    static_cast<IDropTarget*>(p)->Release();
    EXPECT_EQ(target.RefCount(), 1);

    EXPECT_TRUE(target.Dragtypes().Empty());
    EXPECT_FALSE(target.GetDataOnEnter());
    EXPECT_TRUE(target.ShowImage());
    EXPECT_EQ(target.TargetControl(), nullptr);
    EXPECT_EQ(target.DataObject(), nullptr);
    EXPECT_EQ(timer->Interval(), 100u);
    EXPECT_FALSE(timer->Enabled());
    ASSERT_EQ(target.CursorImages().Count(), 1);
    EXPECT_EQ(target.CursorImages().Width(), 32);
    EXPECT_EQ(target.CursorImages().Height(), 32);
    EXPECT_TRUE(target.CursorImages().IsTransparent(0));
}

TEST_F(Fixture, LinkOnlyTargetReportsLinkWhenAllowedWhateverKeys) {
    target->SetDragtypes({dtLink});
    const std::uint32_t keySets[] = {0,
                                     MK_SHIFT,
                                     MK_CONTROL,
                                     MK_SHIFT | MK_CONTROL,
                                     MK_ALT,
                                     MK_LBUTTON,
                                     MK_RBUTTON | MK_SHIFT,
                                     MK_MBUTTON | MK_CONTROL | MK_ALT};
    for (std::uint32_t allowed = 0; allowed < 8; ++allowed)
        for (std::uint32_t keys : keySets) {
            const std::uint32_t expected = (allowed & DROPEFFECT_LINK) ? DROPEFFECT_LINK : DROPEFFECT_NONE;
            EXPECT_EQ(Enter(keys, allowed), expected) << "allowed " << allowed << " keys " << keys;
            EXPECT_EQ(Over(keys, allowed), expected) << "allowed " << allowed << " keys " << keys;
            EXPECT_EQ(DropAt(keys, allowed), expected) << "allowed " << allowed << " keys " << keys;
        }
}

TEST_F(Fixture, AllTypesChooseByShiftAndCtrlOnly) {
    target->SetDragtypes({dtCopy, dtMove, dtLink});
    constexpr std::uint32_t C = DROPEFFECT_COPY, M = DROPEFFECT_MOVE, L = DROPEFFECT_LINK;
    struct Case {
        std::uint32_t keys, allowed, expected;
    } cases[] = {
        {MK_SHIFT | MK_CONTROL, C | M | L, L},
        {MK_SHIFT | MK_CONTROL, C | M, C},
        {MK_SHIFT | MK_CONTROL, M, M},
        {MK_SHIFT, C | M | L, M},
        {MK_SHIFT, C | L, C},
        {MK_SHIFT, L, L},
        {0, C | M | L, C},
        {0, M | L, M},
        {0, L, L},
        {0, 0, 0},
        {MK_CONTROL, C | M | L, C},
        {MK_CONTROL, M | L, M},
        {MK_CONTROL, L, L},
        {MK_ALT, C | M | L, C},
        {MK_ALT | MK_SHIFT, C | M, M},
        {MK_LBUTTON | MK_RBUTTON, M | L, M},
        {MK_SHIFT | MK_CONTROL, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Enter(c.keys, c.allowed), c.expected) << "keys " << c.keys << " allowed " << c.allowed;
        EXPECT_EQ(Over(c.keys, c.allowed), c.expected) << "keys " << c.keys << " allowed " << c.allowed;
    }
}

TEST_F(Fixture, DragTypesMaskTheAllowedEffects) {
    target->SetDragtypes({dtMove});
    EXPECT_EQ(Enter(0, DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK), DROPEFFECT_MOVE);
    EXPECT_EQ(Over(0, DROPEFFECT_COPY | DROPEFFECT_LINK), DROPEFFECT_NONE);
    target->SetDragtypes({});
    EXPECT_EQ(Over(MK_SHIFT | MK_CONTROL, DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK),
              DROPEFFECT_NONE);
}

TEST_F(Fixture, OnGetDropEffectReplacesTheBuiltInChoice) {
    target->SetDragtypes({dtCopy, dtLink});
    control->bars = {sbVertical, sbHorizontal}; // the zone would add the scroll bit to a built-in choice
    std::vector<std::uint32_t> seen;
    target->OnGetDropEffect = [&](TDropTarget* sender, TShiftState, TPoint, std::uint32_t& effect) {
        EXPECT_EQ(sender, target.get());
        seen.push_back(effect);
    };
    // Unchanged: the masked allowed effects as they came, several bits at once, never the scroll bit.
    const std::uint32_t all = DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;
    EXPECT_EQ(Enter(MK_SHIFT, all, {0, 0}), DROPEFFECT_COPY | DROPEFFECT_LINK);
    EXPECT_EQ(Over(0, all, {1, 1}), DROPEFFECT_COPY | DROPEFFECT_LINK);
    EXPECT_FALSE(timer->Enabled());
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], DROPEFFECT_COPY | DROPEFFECT_LINK);

    // What the handler leaves is reported, the scroll bit included when it sets it.
    target->OnGetDropEffect = [](TDropTarget*, TShiftState, TPoint, std::uint32_t& effect) {
        effect = DROPEFFECT_MOVE | DROPEFFECT_SCROLL;
    };
    EXPECT_EQ(Over(0, DROPEFFECT_COPY, {1, 1}), DROPEFFECT_MOVE | DROPEFFECT_SCROLL);
    EXPECT_TRUE(timer->Enabled());
}

TEST_F(Fixture, AttachToTheSameControlDoesNothingAndNoneDetaches) {
    EXPECT_EQ(log->registered, 1);
    EXPECT_EQ(log->target, static_cast<IDropTarget*>(target.get()));
    EXPECT_EQ(target->RefCount(), 2); // the registration holds the target

    target->AttachTo(std::make_unique<FakeControl>(log)); // a wrapper of the same window
    EXPECT_EQ(log->registered, 1);
    EXPECT_EQ(log->revoked, 0);
    EXPECT_EQ(target->TargetControl(), control);

    target->AttachTo(nullptr);
    EXPECT_EQ(log->revoked, 1);
    EXPECT_EQ(log->registered, 1);
    EXPECT_EQ(target->TargetControl(), nullptr);
    EXPECT_EQ(target->RefCount(), 1);

    target->AttachTo(nullptr); // none again: nothing
    EXPECT_EQ(log->revoked, 1);

    auto other = std::make_unique<FakeControl>(log, 2);
    other->handleAllocated = false;
    FakeControl* o = other.get();
    target->AttachTo(std::move(other));
    EXPECT_TRUE(o->handleAllocated); // its window was created before the registration
    EXPECT_EQ(log->registered, 2);
}

TEST_F(Fixture, AttachToAnotherControlDetachesFirst) {
    target->AttachTo(std::make_unique<FakeControl>(log, 2));
    EXPECT_EQ(log->revoked, 1);
    EXPECT_EQ(log->registered, 2);
    EXPECT_EQ(target->TargetControl()->Handle(), FakeControl(log, 2).Handle());
}

TEST_F(Fixture, DetachWithoutAWindowKeepsTheControl) {
    control->handleAllocated = false;
    target->Detach();
    EXPECT_EQ(log->revoked, 0);
    EXPECT_EQ(target->TargetControl(), control);
    control->handleAllocated = true;
    target->Detach();
    EXPECT_EQ(log->revoked, 1);
    EXPECT_EQ(target->TargetControl(), nullptr);
}

TEST_F(Fixture, DestructionRevokesTheRegistration) {
    target.reset();
    EXPECT_EQ(log->revoked, 1);
    EXPECT_EQ(log->target, nullptr);
}

TEST_F(Fixture, RefusedDataReportsNothingButStillFiresLeave) {
    target->SetDragtypes({dtCopy, dtMove, dtLink});
    target->acceptable = false;
    int enters = 0, overs = 0, leaves = 0;
    target->OnEnter = [&](TDropTarget*, TShiftState, TPoint, std::uint32_t&) { ++enters; };
    target->OnDragOver = [&](TDropTarget*, TShiftState, TPoint, std::uint32_t&) { ++overs; };
    target->OnLeave = [&](TDropTarget* sender) {
        EXPECT_EQ(sender, target.get());
        ++leaves;
    };
    const std::int32_t before = data->AddRef() - 1;
    data->Release();
    EXPECT_EQ(Enter(0, DROPEFFECT_COPY), DROPEFFECT_NONE);
    EXPECT_EQ(target->DataObject(), nullptr);
    const std::int32_t after = data->AddRef() - 1;
    data->Release();
    EXPECT_EQ(after, before); // no reference kept
    EXPECT_EQ(Over(0, DROPEFFECT_COPY), DROPEFFECT_NONE);
    EXPECT_EQ(DropAt(0, DROPEFFECT_COPY), DROPEFFECT_NONE);
    EXPECT_EQ(enters + overs, 0);
    EXPECT_EQ(target->reads, 0);
    EXPECT_EQ(target->DragLeave(), S_OK);
    EXPECT_EQ(leaves, 1);
}

TEST_F(Fixture, ReadsAtEnterOrAtDropAsConfigured) {
    target->SetDragtypes({dtCopy});
    int drops = 0;
    target->OnDrop = [&](TDropTarget*, TShiftState, TPoint, std::uint32_t&) { ++drops; };

    target->SetGetDataOnEnter(true);
    target->readResult = false;
    Enter(0, DROPEFFECT_COPY);
    EXPECT_EQ(target->reads, 1);
    // With the data read at the entry, the drop does not read again and fires whatever that read found.
    EXPECT_EQ(DropAt(0, DROPEFFECT_COPY), DROPEFFECT_COPY);
    EXPECT_EQ(target->reads, 1);
    EXPECT_EQ(drops, 1);

    target->SetGetDataOnEnter(false);
    Enter(0, DROPEFFECT_COPY);
    EXPECT_EQ(target->reads, 1);
    EXPECT_EQ(DropAt(0, DROPEFFECT_COPY), DROPEFFECT_NONE); // the read at the drop failed
    EXPECT_EQ(target->reads, 2);
    EXPECT_EQ(drops, 1);

    target->readResult = true;
    Enter(0, DROPEFFECT_COPY);
    EXPECT_EQ(DropAt(0, DROPEFFECT_COPY), DROPEFFECT_COPY);
    EXPECT_EQ(drops, 2);
    EXPECT_EQ(target->DataObject(), nullptr);
}

TEST_F(Fixture, ADropWithNoEffectToReportFiresNothing) {
    target->SetDragtypes({dtLink});
    target->SetGetDataOnEnter(true);
    control->bars = {sbVertical};
    int drops = 0;
    target->OnDrop = [&](TDropTarget*, TShiftState, TPoint, std::uint32_t&) { ++drops; };
    EXPECT_EQ(Enter(0, DROPEFFECT_COPY, {50, 60}), DROPEFFECT_NONE);
    EXPECT_EQ(Over(0, DROPEFFECT_COPY, {5, 1}),
              DROPEFFECT_SCROLL); // the zone alone is no effect to drop with
    // A source that drops although the target refused: still refused, even in the scroll zone.
    EXPECT_EQ(DropAt(0, DROPEFFECT_COPY, {5, 1}), DROPEFFECT_NONE);
    EXPECT_EQ(drops, 0);
    EXPECT_EQ(target->DataObject(), nullptr);
    Enter(0, DROPEFFECT_COPY | DROPEFFECT_LINK);
    EXPECT_EQ(DropAt(0, DROPEFFECT_COPY | DROPEFFECT_LINK, {5, 1}), DROPEFFECT_LINK | DROPEFFECT_SCROLL);
    EXPECT_EQ(drops, 1);
}

TEST_F(Fixture, DropWithoutAHeldDragReportsNothing) {
    target->SetDragtypes({dtCopy});
    int drops = 0;
    target->OnDrop = [&](TDropTarget*, TShiftState, TPoint, std::uint32_t&) { ++drops; };
    EXPECT_EQ(DropAt(0, DROPEFFECT_COPY), DROPEFFECT_NONE);
    Enter(0, DROPEFFECT_COPY);
    target->DragLeave();
    EXPECT_EQ(DropAt(0, DROPEFFECT_COPY), DROPEFFECT_NONE);
    EXPECT_EQ(drops, 0);
}

TEST_F(Fixture, EventsSeeClientPointsShiftStateAndTheirEffectIsReturned) {
    target->SetDragtypes({dtCopy, dtLink});
    std::vector<std::pair<TPoint, TShiftState>> seen;
    auto record = [&](TDropTarget*, TShiftState shift, TPoint p, std::uint32_t&) {
        seen.push_back({p, shift});
    };
    target->OnEnter = record;
    target->OnDragOver = record;
    target->OnDrop = [&](TDropTarget*, TShiftState shift, TPoint p, std::uint32_t& effect) {
        seen.push_back({p, shift});
        EXPECT_EQ(effect, DROPEFFECT_LINK);
        effect = DROPEFFECT_COPY;
    };
    Enter(MK_LBUTTON, DROPEFFECT_LINK, {5, 6});
    Over(MK_LBUTTON | MK_SHIFT | MK_ALT, DROPEFFECT_LINK, {7, 8});
    EXPECT_EQ(DropAt(MK_CONTROL | MK_RBUTTON | MK_MBUTTON, DROPEFFECT_LINK, {9, 10}), DROPEFFECT_COPY);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].first, (TPoint{5, 6}));
    EXPECT_EQ(seen[0].second, (TShiftState{ssLeft}));
    EXPECT_EQ(seen[1].first, (TPoint{7, 8}));
    EXPECT_EQ(seen[1].second, (TShiftState{ssLeft, ssShift, ssAlt}));
    EXPECT_EQ(seen[2].first, (TPoint{9, 10}));
    EXPECT_EQ(seen[2].second, (TShiftState{ssCtrl, ssRight, ssMiddle}));
}

TEST_F(Fixture, AThrowingDropHandlerStillEndsTheDrag) {
    target->SetDragtypes({dtCopy});
    target->OnDrop = [](TDropTarget*, TShiftState, TPoint, std::uint32_t&) { throw std::runtime_error("x"); };
    Enter(0, DROPEFFECT_COPY);
    const int clears = target->clears;
    std::uint32_t effect = DROPEFFECT_COPY;
    EXPECT_THROW(target->Drop(data.Get(), 0, Screen(1, 1), effect), std::runtime_error);
    EXPECT_EQ(target->DataObject(), nullptr);
    EXPECT_EQ(target->clears, clears + 1);
}

TEST_F(Fixture, ClearsAtEnterLeaveAndAfterDrop) {
    target->SetDragtypes({dtCopy});
    Enter(0, DROPEFFECT_COPY);
    EXPECT_EQ(target->clears, 1);
    target->DragLeave();
    EXPECT_EQ(target->clears, 2);
    Enter(0, DROPEFFECT_COPY);
    DropAt(0, DROPEFFECT_COPY);
    EXPECT_EQ(target->clears, 4);
}

TEST_F(Fixture, AutoScrollZoneAddsScrollAndRunsTheTimer) {
    target->SetDragtypes({dtCopy});
    control->bars = {sbVertical};
    control->fontHeight = -13; // margin 13
    EXPECT_EQ(Enter(0, DROPEFFECT_COPY, {50, 60}), DROPEFFECT_COPY);
    EXPECT_EQ(target->ScrollMargin(), 13);
    EXPECT_FALSE(timer->Enabled());

    // The margin itself and client size minus margin are inside; one pixel further is in the zone.
    EXPECT_EQ(Over(0, DROPEFFECT_COPY, {50, 13}), DROPEFFECT_COPY);
    EXPECT_EQ(Over(0, DROPEFFECT_COPY, {50, 107}), DROPEFFECT_COPY);
    EXPECT_FALSE(timer->Enabled());
    EXPECT_EQ(Over(0, DROPEFFECT_COPY, {50, 12}), DROPEFFECT_COPY | DROPEFFECT_SCROLL);
    EXPECT_TRUE(timer->Enabled());
    EXPECT_EQ(Over(0, DROPEFFECT_COPY, {50, 108}), DROPEFFECT_COPY | DROPEFFECT_SCROLL);
    // Only a vertical bar: the left edge is no zone.
    EXPECT_EQ(Over(0, DROPEFFECT_COPY, {0, 60}), DROPEFFECT_COPY);
    EXPECT_FALSE(timer->Enabled());

    Over(0, DROPEFFECT_COPY, {50, 5});
    ASSERT_TRUE(timer->Tick());
    ASSERT_TRUE(timer->Tick());
    ASSERT_EQ(log->messages.size(), 2u);
    EXPECT_EQ(log->messages[0].message, WM_VSCROLL);
    EXPECT_EQ(log->messages[0].wParam, SB_LINEUP);
    EXPECT_EQ(log->messages[0].lParam, 0);
    EXPECT_EQ(target->LastPoint(), (TPoint{50, 5})); // the tick does not move the point

    target->DragLeave();
    EXPECT_FALSE(timer->Enabled());
    Enter(0, DROPEFFECT_COPY, {50, 115});
    Over(0, DROPEFFECT_COPY, {50, 115});
    EXPECT_TRUE(timer->Enabled());
    DropAt(0, DROPEFFECT_COPY, {50, 115});
    EXPECT_FALSE(timer->Enabled());
}

TEST_F(Fixture, HorizontalZoneAndTheTickTestsBothDirections) {
    target->SetDragtypes({dtLink});
    control->bars = {sbHorizontal};
    control->fontHeight = 10;
    Enter(0, DROPEFFECT_LINK, {150, 60});
    EXPECT_EQ(Over(0, DROPEFFECT_LINK, {291, 60}), DROPEFFECT_LINK | DROPEFFECT_SCROLL);
    EXPECT_EQ(Over(0, DROPEFFECT_LINK, {9, 60}), DROPEFFECT_LINK | DROPEFFECT_SCROLL);
    // Near a corner: both directions scroll on each tick, whatever bars the control has.
    Over(0, DROPEFFECT_LINK, {5, 115});
    ASSERT_TRUE(timer->Tick());
    ASSERT_EQ(log->messages.size(), 2u);
    EXPECT_EQ(log->messages[0].message, WM_VSCROLL);
    EXPECT_EQ(log->messages[0].wParam, SB_LINEDOWN);
    EXPECT_EQ(log->messages[1].message, WM_HSCROLL);
    EXPECT_EQ(log->messages[1].wParam, SB_LINELEFT);
}

TEST_F(Fixture, AControlWithoutScrollBarsNeverAutoScrolls) {
    target->SetDragtypes({dtLink});
    Enter(0, DROPEFFECT_LINK, {0, 0});
    for (POINT p : {POINT{0, 0}, POINT{299, 119}, POINT{-5, 60}, POINT{150, 500}})
        EXPECT_EQ(Over(0, DROPEFFECT_LINK, p), DROPEFFECT_LINK);
    EXPECT_FALSE(timer->Enabled());
    // Even a handler's scroll bit does not start the timer without scroll bars.
    target->OnDragOver = [](TDropTarget*, TShiftState, TPoint, std::uint32_t& e) { e |= DROPEFFECT_SCROLL; };
    Over(0, DROPEFFECT_LINK, {0, 0});
    EXPECT_FALSE(timer->Enabled());
    EXPECT_TRUE(log->messages.empty());
}

TEST_F(Fixture, NoDragImageCallsWithoutADragImage) {
    target->SetDragtypes({dtLink});
    control->bars = {sbVertical};
    {
        TDragImageRecorder recorder; // the platform has no drag image
        Enter(0, DROPEFFECT_LINK, {5, 5});
        Over(0, DROPEFFECT_LINK, {6, 2});
        timer->Tick();
        target->DragLeave();
        Enter(0, DROPEFFECT_LINK);
        DropAt(0, DROPEFFECT_LINK);
        ASSERT_EQ(recorder.Calls().size(), 2u);
        EXPECT_EQ(recorder.Count(DragImageCall::GetDragImage), 2u);
        EXPECT_EQ(target->DragImageList(), nullptr);
    }
    {
        TDragImageRecorder recorder;
        recorder.OfferDragImage({3, 4});
        target->SetShowImage(false); // not asked for at all
        Enter(0, DROPEFFECT_LINK, {5, 5});
        Over(0, DROPEFFECT_LINK, {6, 2});
        timer->Tick();
        target->DragLeave();
        EXPECT_TRUE(recorder.Calls().empty());
    }
}

TEST_F(Fixture, TheDragImageFollowsThePointer) {
    target->SetDragtypes({dtLink});
    control->bars = {sbVertical};
    control->fontHeight = 13;
    TDragImageRecorder recorder;
    recorder.OfferDragImage({3, 4});
    const HWND window = control->Handle();
    const int f = control->frame;

    Enter(0, DROPEFFECT_LINK, {50, 60});
    EXPECT_EQ(target->DragImageList(), recorder.OfferedImage());
    ASSERT_EQ(recorder.Calls().size(), 3u);
    EXPECT_EQ(recorder.Calls()[0].kind, DragImageCall::GetDragImage);
    const DragImageCall& cursor = recorder.Calls()[1];
    EXPECT_EQ(cursor.kind, DragImageCall::SetDragCursorImage);
    EXPECT_EQ(cursor.list, &target->CursorImages());
    EXPECT_EQ(cursor.index, 0);
    EXPECT_EQ(cursor.x, 3);
    EXPECT_EQ(cursor.y, 4);
    const DragImageCall& enter = recorder.Calls()[2];
    EXPECT_EQ(enter.kind, DragImageCall::DragEnter);
    EXPECT_EQ(enter.window, window);
    EXPECT_EQ(enter.x, 50 + f); // relative to the whole window, frame included
    EXPECT_EQ(enter.y, 60 + f);

    recorder.Clear();
    Over(0, DROPEFFECT_LINK, {50, 60}); // same point: no move
    Over(0, DROPEFFECT_LINK, {70, 80});
    ASSERT_EQ(recorder.Calls().size(), 1u);
    EXPECT_EQ(recorder.Calls()[0].kind, DragImageCall::DragMove);
    EXPECT_EQ(recorder.Calls()[0].x, 70 + f);
    EXPECT_EQ(recorder.Calls()[0].y, 80 + f);

    recorder.Clear();
    Over(0, DROPEFFECT_LINK, {70, 3}); // into the zone: the image is not moved while scrolling
    EXPECT_EQ(recorder.Count(DragImageCall::DragMove), 0u);
    timer->Tick();
    ASSERT_EQ(recorder.Calls().size(), 2u);
    EXPECT_EQ(recorder.Calls()[0].kind, DragImageCall::DragLeave);
    EXPECT_EQ(recorder.Calls()[1].kind, DragImageCall::DragEnter);
    EXPECT_EQ(recorder.Calls()[1].x, 70 + f);
    EXPECT_EQ(recorder.Calls()[1].y, 3 + f);

    recorder.Clear();
    target->SetShowImage(false);
    target->SetShowImage(true);
    ASSERT_EQ(recorder.Calls().size(), 2u);
    EXPECT_EQ(recorder.Calls()[0].kind, DragImageCall::DragShowNolock);
    EXPECT_FALSE(recorder.Calls()[0].show);
    EXPECT_TRUE(recorder.Calls()[1].show);

    recorder.Clear();
    DropAt(0, DROPEFFECT_LINK);
    ASSERT_EQ(recorder.Calls().size(), 1u);
    EXPECT_EQ(recorder.Calls()[0].kind, DragImageCall::DragLeave);
    EXPECT_EQ(recorder.Calls()[0].window, window);

    recorder.Clear();
    target->SetShowImage(false); // no drag in progress: nothing shown or hidden
    EXPECT_TRUE(recorder.Calls().empty());
}

TEST(DropTargetShiftState, FromTheKeyStateWord) {
    EXPECT_EQ(KeysToShiftState(0), TShiftState{});
    EXPECT_EQ(KeysToShiftState(MK_SHIFT | MK_CONTROL | MK_ALT), (TShiftState{ssShift, ssCtrl, ssAlt}));
    EXPECT_EQ(KeysToShiftState(MK_LBUTTON | MK_RBUTTON | MK_MBUTTON),
              (TShiftState{ssLeft, ssRight, ssMiddle}));
}

} // namespace
} // namespace korvane
