#include "browser/ServedHeaders.h"

#include <gtest/gtest.h>

using namespace korvane;
using nlohmann::json;

TEST(ServedHeaders, HeadersOfTheWireGoThePolicyComes) {
    const json headers = json::array({{{"name", "Content-Type"}, {"value", "text/html; charset=iso-8859-1"}},
                                      {{"name", "content-encoding"}, {"value", "gzip"}},
                                      {{"name", "Content-Length"}, {"value", "123"}},
                                      {{"name", "TRANSFER-ENCODING"}, {"value", "chunked"}},
                                      {{"name", "Set-Cookie"}, {"value", "a=1"}},
                                      {{"name", "Set-Cookie"}, {"value", "b=2"}},
                                      {{"name", 7}, {"value", "odd"}},
                                      "not a header"});
    EXPECT_EQ(HeadersForServedBody(headers, "object-src 'none'"),
              json::array({{{"name", "Content-Type"}, {"value", "text/html; charset=iso-8859-1"}},
                           {{"name", "Set-Cookie"}, {"value", "a=1"}},
                           {{"name", "Set-Cookie"}, {"value", "b=2"}},
                           {{"name", "Content-Security-Policy"}, {"value", "object-src 'none'"}}}));
    EXPECT_EQ(HeadersForServedBody(json(), "p"),
              json::array({{{"name", "Content-Security-Policy"}, {"value", "p"}}}));
}
