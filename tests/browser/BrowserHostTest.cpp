#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <memory>

#include "browser/BrowserHost.h"
#include "browser/DownloadControl.h"
#include "platform/FpControl.h"
#include "tests/browser/FakeEngine.h"

namespace korvane {
namespace {

using testing::TFakeEngine;
using O = TDownloadControlOption;
using U = TUserInterfaceOption;

struct HostFixture : ::testing::Test {
    TFakeEngine* engine = nullptr;
    std::unique_ptr<TBrowserHost> host;
    void SetUp() override {
        auto e = std::make_unique<TFakeEngine>();
        engine = e.get();
        host = std::make_unique<TBrowserHost>(std::move(e));
    }
    std::int32_t AmbientWord() {
        TVariant v;
        EXPECT_EQ(host->Invoke(DISPID_AMBIENT_DLCONTROL, DISPATCH_PROPERTYGET, &v), S_OK);
        return std::get<std::int32_t>(v);
    }
    // The download options as the capture job leaves them for a choice of the six check boxes.
    void ApplyCheckBoxes(bool image, bool video, bool script, bool java, bool activeX, bool activeXDownload) {
        auto set = [&](TDownloadControlOptions s, O m, bool in) { return in ? s.Include(m) : s.Exclude(m); };
        TDownloadControlOptions s = host->DownloadOptions();
        s = set(set(s, O::DLCTL_DLIMAGES, image), O::DLCTL_PRAGMA_NO_CACHE, image);
        host->SetDownloadOptions(s);
        host->SetDownloadOptions(set(host->DownloadOptions(), O::DLCTL_VIDEOS, video));
        host->SetDownloadOptions(set(host->DownloadOptions(), O::DLCTL_NO_SCRIPTS, !script));
        host->SetDownloadOptions(set(host->DownloadOptions(), O::DLCTL_NO_JAVA, !java));
        host->SetDownloadOptions(set(host->DownloadOptions(), O::DLCTL_NO_RUNACTIVEXCTLS, !activeX));
        host->SetDownloadOptions(set(host->DownloadOptions(), O::DLCTL_NO_DLACTIVEXCTLS, !activeXDownload));
    }
};

TEST(DerivedWords, EveryMemberHasItsBitAndTheWordIsTheirSum) {
    std::uint32_t all = 0;
    for (int i = 0; i < kDownloadControlOptionCount; ++i) {
        const auto m = static_cast<O>(i);
        const std::uint32_t v = DownloadControlValue(m);
        EXPECT_EQ(v & (v - 1), 0u) << "member " << i << " is not one bit";
        EXPECT_EQ(all & v, 0u) << "member " << i << " repeats a bit";
        EXPECT_EQ(DownloadControlWord(TDownloadControlOptions{m}), v);
        all |= v;
    }
    EXPECT_EQ(DownloadControlValue(O::DLCTL_URL_ENCODING_ENABLE_UTF8), 0x40000u);
    EXPECT_EQ(DownloadControlValue(O::DLCTL_FORCEOFFLINE), 0x10000000u);
    EXPECT_EQ(DownloadControlValue(O::DLCTL_OFFLINE), 0x80000000u);
    EXPECT_EQ(DownloadControlWord(TDownloadControlOptions{}), 0u);
    EXPECT_EQ(HostInfoFlagWord(TUserInterfaceOptions{}), 0u);
    EXPECT_EQ(HostInfoFlagWord({U::SCROLL_NO}), 8u);
    EXPECT_EQ(UserInterfaceValue(U::ENABLE_FORMS_AUTOCOMPLETE), 0x4000u);
    EXPECT_EQ(UserInterfaceValue(U::ENABLE_INPLACE_NAVIGATION), 0x10000u); // 0x8000 is skipped
    EXPECT_EQ(UserInterfaceValue(U::IME_ENABLE_RECONVERSION), 0x20000u);
}

TEST_F(HostFixture, ConstructorAssignsBothSetsThroughTheSetters) {
    EXPECT_EQ(engine->Site, host.get());
    EXPECT_EQ(engine->AmbientChanges, (std::vector<DISPID>{-5512, -5512}));
    EXPECT_EQ(host->DownloadControl(), 0x70u);
    EXPECT_EQ(host->HostInfoFlags(), 0u);
    EXPECT_TRUE(host->fpExceptions());
    EXPECT_FALSE(host->EnableDDE);
    EXPECT_EQ(host->PrintOptions.HTMLHeader, std::vector<std::string>{"<HTML></HTML>"});
}

TEST_F(HostFixture, AmbientWordsOfTheCheckBoxChoices) {
    host->SetDownloadOptions(host->DownloadOptions().Include(O::DLCTL_SILENT)); // the stored value
    ApplyCheckBoxes(true, true, true, true, true, false);                       // the default check boxes
    EXPECT_EQ(static_cast<std::uint32_t>(AmbientWord()), 0x40004470u);
    ApplyCheckBoxes(true, false, false, false, false, false); // only Image
    EXPECT_EQ(static_cast<std::uint32_t>(AmbientWord()), 0x400047D0u);
    ApplyCheckBoxes(true, true, true, true, true, true); // all six
    EXPECT_EQ(static_cast<std::uint32_t>(AmbientWord()), 0x40004070u);
    ApplyCheckBoxes(false, true, true, true, true, true); // Image off: no images, no no-cache
    EXPECT_EQ(static_cast<std::uint32_t>(AmbientWord()), 0x40000060u);
    host->SetDownloadOptions({});
    EXPECT_EQ(AmbientWord(), 0);
}

TEST_F(HostFixture, EveryAssignmentNotifiesAlsoWhenUnchanged) {
    engine->AmbientChanges.clear();
    const auto same = host->DownloadOptions();
    host->SetDownloadOptions(same);
    host->SetDownloadOptions(same);
    host->SetUserInterfaceOptions(host->UserInterfaceOptions());
    EXPECT_EQ(engine->AmbientChanges, (std::vector<DISPID>{-5512, -5512, -5512}));
    host->SetUserInterfaceOptions({U::SCROLL_NO});
    EXPECT_EQ(engine->AmbientChanges.size(), 4u);
    EXPECT_EQ(host->HostInfoFlags(), 8u);
}

TEST_F(HostFixture, AmbientQueriesOtherThanAPropertyGetWithResultAreNotFound) {
    TVariant v;
    EXPECT_EQ(host->Invoke(DISPID_AMBIENT_DLCONTROL, DISPATCH_METHOD, &v), DISP_E_MEMBERNOTFOUND);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(v));
    EXPECT_EQ(host->Invoke(DISPID_AMBIENT_DLCONTROL, DISPATCH_PROPERTYGET, nullptr), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(host->Invoke(12345, DISPATCH_PROPERTYGET, &v), DISP_E_MEMBERNOTFOUND);
    // Property get combined with method still counts as a property get.
    EXPECT_EQ(host->Invoke(DISPID_AMBIENT_DLCONTROL, DISPATCH_PROPERTYGET | DISPATCH_METHOD, &v), S_OK);
    EXPECT_EQ(std::get<std::int32_t>(v), 0x70);
}

TEST_F(HostFixture, OnInvokeAnswersEverythingButTheDownloadControlGet) {
    int calls = 0;
    host->OnInvoke = [&](TBrowserHost&, DISPID, std::uint16_t, TVariant*) {
        ++calls;
        return E_FAIL;
    };
    TVariant v;
    EXPECT_EQ(host->Invoke(DISPID_AMBIENT_DLCONTROL, DISPATCH_PROPERTYGET, &v), S_OK);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(host->Invoke(-702, DISPATCH_PROPERTYGET, &v), E_FAIL);
    EXPECT_EQ(host->Invoke(DISPID_AMBIENT_DLCONTROL, DISPATCH_METHOD, &v), E_FAIL);
    EXPECT_EQ(calls, 2);
}

TEST_F(HostFixture, HostInfoRecord) {
    static const char16_t css[] = u"body{}";
    DOCHOSTUIINFO info;
    info.cbSize = 999;
    info.dwDoubleClick = 7;
    info.pchHostCss = css;
    info.pchHostNS = css + 1;
    host->SetUserInterfaceOptions({U::SCROLL_NO});
    EXPECT_EQ(host->GetHostInfo(info), S_OK);
    EXPECT_EQ(info.cbSize, 20u);
    EXPECT_EQ(info.dwFlags, 8u);
    EXPECT_EQ(info.dwDoubleClick, 0u);
    EXPECT_EQ(info.pchHostCss, css);
    EXPECT_EQ(info.pchHostNS, css + 1);
    host->OnGetHostInfo = [](TBrowserHost&, DOCHOSTUIINFO& i) {
        EXPECT_EQ(i.cbSize, 20u); // called after the record is filled
        return S_FALSE;
    };
    EXPECT_EQ(host->GetHostInfo(info), S_FALSE);
}

TEST_F(HostFixture, ExecLeavesCommandsToTheEngineUnlessAnEventTakesThem) {
    EXPECT_EQ(host->Exec(nullptr, 37, 0, nullptr, nullptr), OLECMDERR_E_UNKNOWNGROUP);
    EXPECT_EQ(host->Exec(&CGID_Explorer, 37, 0, nullptr, nullptr), OLECMDERR_E_NOTSUPPORTED);
    EXPECT_EQ(host->Exec(&CGID_DocHostCommandHandler, 40, 0, nullptr, nullptr), OLECMDERR_E_NOTSUPPORTED);
    std::vector<std::uint32_t> refreshed;
    host->OnRefresh = [&](TBrowserHost&, std::uint32_t cmd, const TVariant*, TVariant*) {
        refreshed.push_back(cmd);
        return S_OK; // cancels
    };
    for (std::uint32_t cmd : {2300u, 6041u, 6042u, 2301u})
        host->Exec(&CGID_DocHostCommandHandler, cmd, 0, nullptr, nullptr);
    EXPECT_EQ(refreshed, (std::vector<std::uint32_t>{2300, 6041, 6042}));
    EXPECT_EQ(host->Exec(&CGID_Explorer, 2300, 0, nullptr, nullptr), OLECMDERR_E_NOTSUPPORTED);
    host->OnScriptError = [](TBrowserHost&, std::uint32_t, const TVariant*, TVariant* out) {
        *out = true; // scripts go on
        return S_OK;
    };
    TVariant out;
    EXPECT_EQ(host->Exec(&CGID_DocHostCommandHandler, 40, 0, nullptr, &out), S_OK);
    EXPECT_TRUE(std::get<bool>(out));
}

TEST_F(HostFixture, OperationsReachTheEngine) {
    std::vector<std::string> texts;
    host->OnStatusTextChange = [&](TBrowserHost& sender, const std::string& t) {
        EXPECT_EQ(&sender, host.get());
        texts.push_back(t);
    };
    host->Navigate("http://127.0.0.1/a");
    host->Stop();
    EXPECT_EQ(engine->Navigations, std::vector<std::string>{"http://127.0.0.1/a"});
    EXPECT_EQ(engine->Stops, 1);
    EXPECT_FALSE(host->Document());
    engine->State = READYSTATE_COMPLETE;
    engine->Document = 42;
    engine->ScrollWidth = 1500;
    EXPECT_EQ(host->ReadyState(), 4);
    auto doc = host->Document();
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->BodyProperty("scrollWidth"), 1500);
    engine->Document = 43; // navigated on: the old document is gone
    EXPECT_THROW(doc->BodyProperty("scrollWidth"), EEngineError);
    engine->Site->StatusTextChange("Done");
    EXPECT_EQ(texts, std::vector<std::string>{"Done"});

    host->SetWidth(1024);
    host->SetHeight(3000);
    host->SetBounds(0, 0, 0, 50); // refused: keeps the size
    EXPECT_EQ(engine->Resizes, (std::vector<std::pair<int, int>>{{1024, 100}, {1024, 3000}}));
    EXPECT_EQ(host->Width(), 1024);
    EXPECT_EQ(host->Height(), 3000);
}

// What a caller sees of the property: with fpExceptions False, a division by zero that some library has made
// trap gives infinity instead of ending the program; True gives back what the program started with.
TEST(FpExceptions, FalseLetsADivisionByZeroGiveInfinityAndTrueGivesBackTheStartsWord) {
    const TFpControl saved = SavedFpControl();
    {
        const TFpControl before = CurrentFpControl();
        TBrowserHost host(std::make_unique<TFakeEngine>());
        EXPECT_EQ(CurrentFpControl(), before) << "construction must not touch the control word";
        feenableexcept(FE_DIVBYZERO); // some library unmasks division by zero meanwhile
        host.SetfpExceptions(false);
        EXPECT_FALSE(host.fpExceptions());
        volatile double zero = 0.0;
        std::feclearexcept(FE_ALL_EXCEPT);
        const double quotient = 1.0 / zero; // would raise SIGFPE were the trap still on
        EXPECT_TRUE(std::isinf(quotient));
        EXPECT_TRUE(std::fetestexcept(FE_DIVBYZERO));
        host.SetfpExceptions(true);
        EXPECT_TRUE(host.fpExceptions());
        EXPECT_EQ(CurrentFpControl(), saved);
    }
    SetFpControl(saved);
}

} // namespace
} // namespace korvane
