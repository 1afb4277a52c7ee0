// The page's JSON string literals read back as the very text they carry, whatever bytes it holds.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "web/JsonText.h"

namespace velmora::web {
namespace {

TEST(JsonString, EveryTextReadsBackUnchanged) {
    const std::string texts[] = {
        "",
        "plain",
        "a \"quoted\" word and a back\\slash",
        "two\nlines\tand a tab, \x01 and \x1f",
        "バージョンアップデートが完了しました。",
    };
    for (const std::string& text : texts) {
        EXPECT_EQ(nlohmann::json::parse(jsonString(text)).get<std::string>(), text) << text;
    }
}

}  // namespace
}  // namespace velmora::web
