#pragma once
// Where the program keeps its files: the settings file and the folder images go to when no other is chosen.
// A portable copy keeps them beside itself; an installed one where the user's files go (XDG).
#include <string>

namespace korvane {

// A portable copy of the program: its folder is writable and holds "<executable>.ini" already, or it lies
// in its build tree. It keeps its files beside itself; an installed one keeps them where the user's go.
bool IsPortableCopy(const std::string& executable);
// The settings file: "<executable>.ini" beside a portable copy, otherwise
// "$XDG_CONFIG_HOME/korvane/korvane.ini" (the folders are made when missing).
std::string SettingsFilePath(const std::string& executable);
std::string SettingsFilePath();
// The folder where images go when no other is chosen: a portable copy's own folder, otherwise the user's
// pictures folder, otherwise the home folder; never a folder of the system's (/usr, /etc, ...), whoever
// runs the program. Ends in "/".
std::string DefaultOutputFolder(const std::string& executable);
std::string DefaultOutputFolder();

} // namespace korvane
