#include "app/translate.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>

#include "base/user_text.h"

namespace tamborix {
namespace {

// A translator that knows a few texts, put back to none when the test ends.
class GermanTexts {
public:
    explicit GermanTexts(std::map<std::pair<std::string, std::string>, std::string> texts) {
        setTranslator([texts = std::move(texts)](const char* context, const char* source) {
            const auto it = texts.find({context, source});
            return it == texts.end() ? std::string(source) : it->second;
        });
    }
    ~GermanTexts() { setTranslator({}); }
};

TEST(TranslateTest, Localise_ReasonsNestedBelowTheApp_EachPartTranslatedValuesKept) {
    // Worded as the backend factory words a failed start: a list of reasons inside the line.
    const std::string uinput = userText("Backends", "%1 not writable (%2)").with({"/dev/uinput", "Permission denied"});
    const std::string tried = joinedText("%1; %2", {userText("Backends", "no graphical session (DISPLAY is not set)").str(),
                                                    joinedText("%1%2", {"uinput: ", uinput})});
    const std::string line = userText("Backends", "Backend: none, %1").with({tried});
    EXPECT_EQ(line,
              "Backend: none, no graphical session (DISPLAY is not set); uinput: /dev/uinput not writable "
              "(Permission denied)");

    const GermanTexts german({{{"Backends", "Backend: none, %1"}, "Backend: keins, %1"},
                              {{"Backends", "no graphical session (DISPLAY is not set)"}, "keine grafische Sitzung"},
                              {{"Backends", "%1 not writable (%2)"}, "%1 nicht beschreibbar (%2)"}});
    EXPECT_EQ(localise(line),
              "Backend: keins, keine grafische Sitzung; uinput: /dev/uinput nicht beschreibbar (Permission denied)");
    // A text made elsewhere stays as it is.
    EXPECT_EQ(localise("Backend: none, made by hand"), "Backend: none, made by hand");
    // A join that adds nothing is its value's text, not a loop.
    const std::string same = joinedText("%1%2", {"", uinput});
    EXPECT_EQ(localise(same), "/dev/uinput nicht beschreibbar (Permission denied)");
}

}  // namespace
}  // namespace tamborix
