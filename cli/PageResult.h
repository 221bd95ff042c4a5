#pragma once
// What became of one page of a run.
#include <string>
#include <vector>

namespace korvane {

struct TPageResult {
    std::string Argument; // as given
    std::string Url;      // as loaded
    // The width the page is captured at when the run has several (--width 375,1280); 0 when it has one.
    int ViewWidth = 0;
    bool Captured = false;
    std::string Path; // the written file
    int Width = 0, Height = 0;
    std::string Reason;                // why it failed
    bool Interrupted = false;          // not done: the run was told to stop
    std::vector<std::string> Warnings; // e.g. an HTTP status of 400 or more
    std::vector<std::string> Notes;    // e.g. the file got a numbered name
    double Seconds = 0;
    int Attempts = 0;   // 2 when it was begun again in a new browser
    int HttpStatus = 0; // of the page's document; 0 when none came

    // Parts of Seconds: until the page had loaded, its measuring until its picture began, and the file's
    // making (while the rest of the picture comes).
    double LoadSeconds = 0, CaptureSeconds = 0, WriteSeconds = 0;
    std::string Browser; // where it was captured: "local", or the address of a browser that runs elsewhere
};

} // namespace korvane
