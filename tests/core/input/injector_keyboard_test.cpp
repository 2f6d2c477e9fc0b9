#include <gmock/gmock.h>

#include "core/input/keysyms.h"
#include "core/input/text_units.h"
#include "injector_fixture.h"

namespace tamborix::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr std::uint32_t keyA = 38;  // of the fake US layout
constexpr std::uint32_t keyV = 55;

KeyEvent sym(std::uint32_t keysym, bool down, ModifierFlags flags) {
    return {KeyKind::keysym, keysym, down, flags};
}
KeyEvent code(std::uint32_t keycode, bool down, ModifierFlags flags) {
    return {KeyKind::keycode, keycode, down, flags};
}

std::u16string joined(const std::vector<RecordingInputSink::Text>& chunks) {
    std::u16string out;
    for (const auto& c : chunks) out += c.chunk;
    return out;
}

TEST_F(InjectorTest, Key_CharacterWithCmd_WrapsKeyInSuper) {
    injector().key("a", {"cmd"});
    EXPECT_THAT(sink.keys(), ElementsAre(sym(keysym::superL, true, modifier::super),
                                         code(keyA, true, modifier::super),
                                         code(keyA, false, modifier::super),
                                         sym(keysym::superL, false, 0)));
}

TEST_F(InjectorTest, Key_ShiftedCharacter_PressesShiftForIt) {
    injector().key("A", {});
    EXPECT_THAT(sink.keys(), ElementsAre(sym(keysym::shiftL, true, modifier::shift),
                                         code(keyA, true, modifier::shift),
                                         code(keyA, false, modifier::shift),
                                         sym(keysym::shiftL, false, 0)));
}

TEST_F(InjectorTest, Key_CharacterOnAltGrShiftLevel_HoldsShiftAndLevel3AroundItsKey) {
    // "@" is on the third level, "¿" on the fourth (AltGr + Shift); a higher level of a lower
    // keycode loses to a lower level.
    sink.setLayout({{24, false, U'q'}, {24, false, U'@', modifier::level3}, {12, true, U'@', modifier::level3},
                    {20, true, U'¿', modifier::level3}});
    auto& inj = injector();
    inj.key("@", {"ctrl"});
    inj.key("¿", {});
    constexpr auto ctrlL3 = modifier::control | modifier::level3;
    constexpr auto shiftL3 = modifier::shift | modifier::level3;
    EXPECT_THAT(sink.keys(),
                ElementsAre(sym(keysym::controlL, true, modifier::control), sym(keysym::isoLevel3Shift, true, ctrlL3),
                            code(24, true, ctrlL3), code(24, false, ctrlL3),
                            sym(keysym::isoLevel3Shift, false, modifier::control), sym(keysym::controlL, false, 0),
                            sym(keysym::shiftL, true, modifier::shift), sym(keysym::isoLevel3Shift, true, shiftL3),
                            code(20, true, shiftL3), code(20, false, shiftL3),
                            sym(keysym::isoLevel3Shift, false, modifier::shift), sym(keysym::shiftL, false, 0)));
    EXPECT_TRUE(sink.texts().empty());
}

TEST_F(InjectorTest, Key_PrimaryAndShift_PressesShiftThenControlAndReleasesInReverse) {
    injector().key("v", {"primary", "shift"});
    constexpr auto both = static_cast<ModifierFlags>(modifier::shift | modifier::control);
    EXPECT_THAT(sink.keys(), ElementsAre(sym(keysym::shiftL, true, modifier::shift),
                                         sym(keysym::controlL, true, both),
                                         code(keyV, true, both), code(keyV, false, both),
                                         sym(keysym::controlL, false, modifier::shift),
                                         sym(keysym::shiftL, false, 0)));
}

TEST_F(InjectorTest, Key_AllFourModifiersInAnyOrder_PressSuperShiftAltControl) {
    injector().key("enter", {"ctrl", "alt", "ctrl", "cmd", "shift", "bogus"});
    constexpr ModifierFlags all =
        modifier::super | modifier::shift | modifier::alt | modifier::control;
    EXPECT_THAT(
        sink.keys(),
        ElementsAre(sym(keysym::superL, true, modifier::super),
                    sym(keysym::shiftL, true, modifier::super | modifier::shift),
                    sym(keysym::altL, true, modifier::super | modifier::shift | modifier::alt),
                    sym(keysym::controlL, true, all), sym(keysym::returnKey, true, all),
                    sym(keysym::returnKey, false, all),
                    sym(keysym::controlL, false, modifier::super | modifier::shift | modifier::alt),
                    sym(keysym::altL, false, modifier::super | modifier::shift),
                    sym(keysym::shiftL, false, modifier::super),
                    sym(keysym::superL, false, 0)));
}

TEST_F(InjectorTest, Key_NamedKeys_PressTheirKeysyms) {
    auto& inj = injector();
    for (const char* name : {"f5", "page_up", "page_down", "super", "print", "f20", "backspace"})
        inj.key(name, {});
    std::vector<std::uint32_t> pressed;
    for (const auto& k : sink.keys()) {
        EXPECT_EQ(k.flags, 0);
        if (k.down) pressed.push_back(k.value);
    }
    EXPECT_THAT(pressed, ElementsAre(0xffc2u, keysym::prior, keysym::next, keysym::superL,
                                     keysym::print, 0xffd1u, keysym::backSpace));
    EXPECT_EQ(InputInjector::namedKeys().size(), 36u);
    EXPECT_TRUE(InputInjector::isValidKeyName("media_volume_mute"));
    EXPECT_FALSE(InputInjector::isValidKeyName("a"));
    EXPECT_TRUE(InputInjector::isModifierName("primary"));
    EXPECT_FALSE(InputInjector::isModifierName("super"));
}

TEST_F(InjectorTest, Key_MediaKeyWithModifier_IgnoresModifier) {
    injector().key("media_next", {"cmd"});
    EXPECT_THAT(sink.keys(), ElementsAre(sym(keysym::audioNext, true, 0),
                                         sym(keysym::audioNext, false, 0)));
}

TEST_F(InjectorTest, Key_EmptyName_DoesNothing) {
    injector().key("", {});
    EXPECT_THAT(sink.posted(), IsEmpty());
}

TEST_F(InjectorTest, Key_CharacterNoKeyTypes_TypedAsTextOnlyWithoutModifiers) {
    auto& inj = injector();
    inj.key("é", {"shift"});
    EXPECT_THAT(sink.posted(), IsEmpty());
    inj.key("é", {});
    EXPECT_THAT(sink.keys(), IsEmpty());
    ASSERT_EQ(sink.texts().size(), 1u);
    EXPECT_EQ(sink.texts()[0].chunk, u"é");
}

TEST_F(InjectorTest, Key_FirstCharacterIsCluster_TypesWholeNameAsText) {
    // "e" has a key, but the first character is e with a combining accent.
    injector().key("e\u0301", {});
    EXPECT_THAT(sink.keys(), IsEmpty());
    ASSERT_EQ(sink.texts().size(), 1u);
    EXPECT_EQ(sink.texts()[0].chunk, u"e\u0301");
}

TEST_F(InjectorTest, Key_OnlyLowercaseOnLayout_PressesLowercaseKey) {
    sink.setLayout({{47, false, U'ö'}});
    injector().key("Ö", {"ctrl"});
    EXPECT_THAT(sink.keys(), ElementsAre(sym(keysym::controlL, true, modifier::control),
                                         code(47, true, modifier::control),
                                         code(47, false, modifier::control),
                                         sym(keysym::controlL, false, 0)));
}

TEST_F(InjectorTest, Key_CanonicallyEquivalentCharacter_PressesTheLayoutsKey) {
    // The layout's "é" is precomposed, the phone's is "e" + combining acute; the layout's Angstrom
    // sign is the same character as the phone's "Å".
    sink.setLayout({{47, false, U'\u00E9'}, {48, true, U'\u212B'}});
    auto& inj = injector();
    inj.key("e\u0301", {"ctrl"});
    inj.key("\u00C5", {});
    EXPECT_THAT(sink.keys(), ElementsAre(sym(keysym::controlL, true, modifier::control),
                                         code(47, true, modifier::control),
                                         code(47, false, modifier::control),
                                         sym(keysym::controlL, false, 0),
                                         sym(keysym::shiftL, true, modifier::shift),
                                         code(48, true, modifier::shift),
                                         code(48, false, modifier::shift),
                                         sym(keysym::shiftL, false, 0)));
    EXPECT_THAT(sink.texts(), IsEmpty());
}

TEST_F(InjectorTest, Key_LayoutChanged_PickedUpOnFirstMiss) {
    auto& inj = injector();
    const int readsAtStart = sink.layoutReads();
    // The new layout moves "a" and adds "ö".
    sink.setLayout({{99, false, U'a'}, {47, false, U'ö'}});

    inj.key("a", {});
    EXPECT_EQ(sink.keys().front(), code(keyA, true, 0));  // old map still answers
    EXPECT_EQ(sink.layoutReads(), readsAtStart);

    sink.clear();
    inj.key("ö", {});
    EXPECT_EQ(sink.layoutReads(), readsAtStart + 1);
    EXPECT_THAT(sink.keys(), ElementsAre(code(47, true, 0), code(47, false, 0)));

    sink.clear();
    inj.key("a", {});
    EXPECT_EQ(sink.keys().front(), code(99, true, 0));
}

TEST_F(InjectorTest, BuildCharMap_DuplicateCharacters_UnshiftedThenLowestKeycodeWins) {
    sink.setLayout({
        {80, false, U'x'}, {60, true, U'x'}, {75, false, U'x'},  // 75 unshifted wins
        {30, true, U'y'}, {20, true, U'y'},                      // 20 shifted wins
        {10, false, U'\U0001F600'},                              // more than one UTF-16 unit
    });
    const auto& map = injector().charMap();
    ASSERT_TRUE(map.contains(U'x'));
    EXPECT_EQ(map.at(U'x').keycode, 75u);
    EXPECT_FALSE(map.at(U'x').shift);
    EXPECT_EQ(map.at(U'y').keycode, 20u);
    EXPECT_TRUE(map.at(U'y').shift);
    EXPECT_FALSE(map.contains(U'\U0001F600'));
}

TEST_F(InjectorTest, Text_FortyFiveCharacters_PostsThreeChunks) {
    const std::string s(45, 'k');
    injector().text(s);
    const auto chunks = sink.texts();
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunks[0].chunk.size(), 20u);
    EXPECT_EQ(chunks[1].chunk.size(), 20u);
    EXPECT_EQ(chunks[2].chunk.size(), 5u);
    EXPECT_EQ(joined(chunks), std::u16string(45, u'k'));
    EXPECT_THAT(sink.keys(), IsEmpty());
}

TEST_F(InjectorTest, Text_SurrogatePairAcrossChunkBoundary_StaysInOneChunk) {
    // Nineteen letters, then an emoji at units 19 and 20, then more letters.
    const std::string s = std::string(19, 'a') + "\xF0\x9F\x98\x80" + std::string(25, 'b');
    injector().text(s);
    const auto chunks = sink.texts();
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunks[0].chunk, std::u16string(19, u'a'));
    EXPECT_EQ(chunks[1].chunk.substr(0, 2), u"\U0001F600");
    EXPECT_EQ(chunks[1].chunk.size(), 20u);
    EXPECT_EQ(joined(chunks), u"" + std::u16string(19, u'a') + u"\U0001F600" +
                                  std::u16string(25, u'b'));
    for (const auto& c : chunks) {
        EXPECT_FALSE(c.chunk.empty());
        EXPECT_FALSE(c.chunk.back() >= 0xD800 && c.chunk.back() <= 0xDBFF);
    }
}

TEST_F(InjectorTest, Text_EmptyOrInvalidUtf8_PostsNothingOrReplacement) {
    auto& inj = injector();
    inj.text("");
    EXPECT_THAT(sink.posted(), IsEmpty());
    inj.text("a\xFF" "b");
    ASSERT_EQ(sink.texts().size(), 1u);
    EXPECT_EQ(sink.texts()[0].chunk, u"a\uFFFDb");
}

TEST(TextUnits, ChunkEnd_LoneOrTrailingSurrogates_NeverStallsOrSplitsPairs) {
    // A lead surrogate with no trail is cut like any other unit.
    const std::u16string lone = std::u16string(19, u'a') + u'\xD83D' + u"bc";
    EXPECT_EQ(textunits::chunkEnd(lone, 0, 20), 20u);
    // Pairs back to back: each chunk still advances.
    std::u16string pairs;
    for (int i = 0; i < 15; ++i) pairs += u"\U0001F600";
    std::size_t begin = 0;
    int n = 0;
    while (begin < pairs.size()) {
        const auto end = textunits::chunkEnd(pairs, begin, 3);
        ASSERT_GT(end, begin);
        EXPECT_EQ((end - begin) % 2, 0u);
        begin = end;
        ++n;
    }
    EXPECT_EQ(n, 15);
}

}  // namespace
}  // namespace tamborix::testing
