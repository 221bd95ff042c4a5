#include "app/HostOptions.h"

#include "browser/BrowserHost.h"

namespace korvane {

namespace {

using O = TDownloadControlOption;

void Switch(TBrowserHost& host, std::initializer_list<O> members, bool include) {
    TDownloadControlOptions set = host.DownloadOptions();
    for (O member : members) {
        if (include)
            set.Include(member);
        else
            set.Exclude(member);
    }
    host.SetDownloadOptions(set);
}

} // namespace

void ApplyDownloadOptions(TBrowserHost& host, const TSecuritySwitches& s) {
    Switch(host, {O::DLCTL_DLIMAGES, O::DLCTL_PRAGMA_NO_CACHE}, s.Image);
    Switch(host, {O::DLCTL_VIDEOS}, s.Video);
    Switch(host, {O::DLCTL_NO_SCRIPTS}, !s.Script);
    Switch(host, {O::DLCTL_NO_JAVA}, !s.Java);
    Switch(host, {O::DLCTL_NO_RUNACTIVEXCTLS}, !s.ActiveX);
    Switch(host, {O::DLCTL_NO_DLACTIVEXCTLS}, !s.ActiveXDownload);
}

void ApplyScrollBarOption(TBrowserHost& host, bool hideScrollBars) {
    TUserInterfaceOptions set = host.UserInterfaceOptions();
    if (hideScrollBars)
        set.Include(TUserInterfaceOption::SCROLL_NO);
    else
        set.Exclude(TUserInterfaceOption::SCROLL_NO);
    host.SetUserInterfaceOptions(set);
}

} // namespace korvane
