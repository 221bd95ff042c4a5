// korvane-capture --help.
#include "cli/Options.h"
#include "platform/Translate.h"

namespace korvane {

const char* UsageText() {
    return Tr(R"(Usage: korvane-capture [options] URL...
Captures each web page whole as one image file.

URL may be an http:, https: or file: address, or the path of a local file.

  -i, --input FILE        read more URLs from FILE (- for standard input), one a
                          line ("#" comments)
  -o FILE                 write the image of a single URL to FILE
      --output DIR        write images into DIR (default: the current folder)
      --format FMT        bmp, jpg, png or webp (default: by the -o extension, else png)
      --quality N         jpg and webp: quality from 1 to 100 (default: jpg 90, webp
                          lossless)
      --omit-background   png and webp: what the page leaves unpainted is transparent
      --width auto|N      capture width in pixels (default 1024)
      --width N,N,...     one picture of every page at each width; the file names end
                          in -wN (more than once: more widths)
      --height auto|N     capture height in pixels (default auto: the page's height)
      --view-height N     the height of the screen the page is loaded and laid out in
                          (default 768): what 100vh and window.innerHeight are
      --delay SECONDS     wait after the page has loaded (default 1)
      --scale F           device scale factor; the image is the page size times F (default 1)
      --wait-idle         after loading, wait until the network is idle
      --lazy              also scroll through the page a screen at a time once it has
                          loaded (for pages that load content as they are scrolled)
      --no-lazy           draw the page as it is: do not bring in what it loads only
                          when seen (lazy images, content that fades in, web fonts)
      --no-expand         draw a page that scrolls inside an element (not as a whole)
                          as it shows, instead of that element's whole content
      --timeout SECONDS   a page's whole time, its delay included (default 60); a page
                          that has not loaded completely by three quarters of it is
                          captured as it is, with a warning
      --strict            a page that has not loaded completely in its time fails
      --jobs N            capture N pages at once (default: the number of cores, at most 8)
      --memory MB         keep the pictures in memory below MB megabytes; a page
                          waits for room rather than fail (default: a quarter of the
                          machine's memory)
      --no-images --no-video --no-scripts
                          do not load that kind of content
      --plugins           let object and embed content load (kept out by default,
                          as in the window)
      --no-plugins        keep object and embed content out, also when a settings
                          file lets it in (--no-java and --no-activex say the same;
                          --activex-download is the same as --plugins)
      --cache             let the pages of one run share what they download (by default,
                          as in the window, every page is fetched fresh while images load)
      --hide-scrollbars   capture the page without scroll bars
      --hide SELECTOR     make the elements that match invisible; the layout stays
                          (may be given more than once)
      --remove SELECTOR   take the elements that match out of the layout
      --hide-consent      hide the cookie-consent dialogs of the common consent
                          platforms and undo the scroll lock they leave
      --style CSS, --style-file FILE
                          add a style sheet to each page once it has loaded
      --script JS, --script-file FILE
                          run a script in each page once it has loaded (also with
                          --no-scripts); a promise it gives is waited for, an error
                          it throws fails the page
      --wait-for SELECTOR wait until an element matches and has a box
      --selector SELECTOR capture only the first element that matches
      --padding N         pixels of the page around --selector's element (default 0)
      --header "NAME: VALUE"
                          send the header with every request (more than once: more
                          headers)
      --user-agent TEXT   the user agent to send instead of the browser's
      --cookie NAME=VALUE a cookie for each page's own host (more than once: more)
      --cookies FILE      cookies from a cookies.txt file (Netscape format)
      --auth USER:PASSWORD
                          answer the page's own server when it asks for a login
                          (HTTP basic or digest); never sent to another server
      --mobile            pages see a phone: their viewport meta tag, touch, a phone's
                          user agent (default width 390; --scale 3 for its pixels)
      --proxy URL         send every request through the proxy http://, https:// or
                          socks5://HOST:PORT (http and https: USER:PASSWORD@HOST
                          for one that asks; given to the proxy alone)
      --proxy-bypass LIST hosts that go directly, separated by commas (*.example.org,
                          10.0.0.0/8); <-loopback> sends local addresses through the
                          proxy as well
      --dark              pages see prefers-color-scheme: dark
      --reduced-motion    pages see prefers-reduced-motion: reduce, and animations
                          are finished before the picture
      --browser URL       use a browser that runs already instead of starting one: its
                          DevTools WebSocket (ws://HOST:PORT/devtools/browser/ID) or
                          its DevTools server (http://HOST:PORT); more than once:
                          pages are spread over all, --jobs pages at once in each
      --browsers N        start N browsers of our own and spread the pages over them,
                          --jobs pages at once in each (default 1)
      --shard K/N         capture only the K-th of N shares of the list (K from 0): the
                          i-th distinct URL belongs to share i mod N
      --manifest FILE     append a line of JSON for each page as it ends (JSON Lines)
      --resume            with --manifest: skip the pages it says were captured whose
                          files are still there with their size
      --report FILE.html  after the run, write a page of the run's images (thumbnails,
                          outcomes, errors; failed pages first) to FILE.html
      --view              open each image when written
      --settings FILE     take the options from a settings file of the window
  -q, --quiet             no progress line
  -h, --help              this text
  -V, --version           the version
Exit status: 0 all captured, 1 some failed, 2 usage error.
)");
}

} // namespace korvane
