// Frames of authenticated connections: opening, parsing, revocation, scope, keep-alive, batches.

#include <gtest/gtest.h>

#include "core_harness.h"
#include "protocol/secure_error.h"
#include "protocol/wire.h"

namespace tamborix::testing {
namespace {

using nlohmann::json;

void expectEndedWith(const LoopbackPhone& phone, const SecureError& expected) {
    ASSERT_TRUE(phone.ended());
    try {
        std::rethrow_exception(phone.error());
    } catch (const SecureError& e) {
        EXPECT_EQ(e, expected) << e.what();
    } catch (const std::exception& e) {
        ADD_FAILURE() << "unexpected error: " << e.what();
    }
}

json clicks(int n) {
    json cmds = json::array();
    for (int i = 0; i < n; ++i) cmds.push_back({{"t", "scroll"}, {"dy", i}});
    return {{"cmds", cmds}};
}

class Authenticated : public ::testing::Test {
protected:
    CoreHarness h;
};

TEST_F(Authenticated, Ping_AnyScope_ExactPongAndNothingElse) {
    auto presenter = h.phone("Slides", PairedDevice::Scope::presenter);
    presenter->send({{"t", "ping"}, {"cmds", json::array({{{"t", "action"}, {"a", "next_slide"}}})}});
    ASSERT_EQ(presenter->receivedTexts().size(), 1u);
    EXPECT_EQ(presenter->receivedTexts()[0], R"({"t":"pong"})");
    EXPECT_TRUE(h.log().empty());
    EXPECT_FALSE(presenter->ended());
}

TEST_F(Authenticated, Batch_ThirtyTwoRunAll_ThirtyThreeRunNone) {
    auto phone = h.phone("Phone");
    phone->send(clicks(33));
    EXPECT_TRUE(h.log().empty());
    EXPECT_FALSE(phone->ended());
    phone->send(clicks(32));
    EXPECT_EQ(h.log().size(), 32u);
    EXPECT_EQ(h.log().front(), "scroll 0.0 0.0");
    EXPECT_EQ(h.log().back(), "scroll 0.0 31.0");
    phone->send({{"cmds", json::array()}});
    EXPECT_EQ(h.log().size(), 32u);
    EXPECT_FALSE(h.core->lastEvent().value_or("").starts_with("Rejected"));
}

TEST_F(Authenticated, Batch_SecondRejected_OthersRunAndEventNamesDevice) {
    auto phone = h.phone("Pixel");
    phone->send({{"cmds",
                  {{{"t", "scroll"}, {"dy", 1}}, {{"t", "click"}, {"n", 4}}, "not an object",
                   {{"t", "scroll"}, {"dy", 3}}}}});
    ASSERT_EQ(h.log().size(), 2u);
    EXPECT_EQ(h.log()[0], "scroll 0.0 1.0");
    EXPECT_EQ(h.log()[1], "scroll 0.0 3.0");
    EXPECT_EQ(h.lastEvent(), "Rejected a command from Pixel");
    EXPECT_FALSE(phone->ended());
}

TEST_F(Authenticated, Batch_TypeBesideCmds_OnlyCmdsRun) {
    auto phone = h.phone("Phone");
    phone->send({{"t", "text"}, {"s", "hello"}, {"cmds", {{{"t", "scroll"}, {"dy", 2}}}}});
    ASSERT_EQ(h.log().size(), 1u);
    EXPECT_EQ(h.log()[0], "scroll 0.0 2.0");
    // "cmds" that is not an array leaves the object as the one command.
    phone->send({{"t", "scroll"}, {"dy", 5}, {"cmds", "x"}});
    EXPECT_EQ(h.lastLog(), "scroll 0.0 5.0");
}

TEST_F(Authenticated, Plaintext_Array_EndsSessionMalformed) {
    auto phone = h.phone("Phone");
    phone->send(json::array({{{"t", "ping"}}}));
    expectEndedWith(*phone, SecureError::malformed("plaintext"));
    EXPECT_EQ(h.core->liveCount(), 0u);
}

TEST_F(Authenticated, Plaintext_BareValuesOrNotJson_EndSessionWithParseError) {
    for (const char* text : {R"("ping")", "42", "true", "null", "  7", "{\"t\":", "\xff"}) {
        auto phone = h.phone("Phone");
        phone->sendText(text);
        ASSERT_TRUE(phone->ended()) << text;
        EXPECT_THROW(std::rethrow_exception(phone->error()), nlohmann::json::parse_error) << text;
    }
}

TEST_F(Authenticated, Frame_ReplayedOrForged_EndsSession) {
    auto phone = h.phone("Phone");
    const auto frame = phone->seal(R"({"t":"ping"})");
    phone->sendFrame(frame);
    ASSERT_FALSE(phone->ended());
    phone->sendFrame(frame);
    expectEndedWith(*phone, SecureError::replay());

    auto other = h.phone("Other");
    auto forged = other->seal(R"({"t":"ping"})");
    forged.back() ^= 1;
    other->sendFrame(forged);
    expectEndedWith(*other, SecureError::authentication());
}

TEST_F(Authenticated, Revocation_NextFrame_EndsSession) {
    auto phone = h.phone("Phone");
    h.store.revoke(phone->conn()->device->id);
    phone->send({{"t", "ping"}});
    expectEndedWith(*phone, SecureError::authentication());
    EXPECT_TRUE(phone->received().empty());
    EXPECT_TRUE(h.core->active().empty());
}

TEST_F(Authenticated, Revocation_AfterServedFrames_NextFrameEndsSession) {
    auto phone = h.phone("Phone");
    phone->send({{"t", "ping"}});
    phone->send({{"t", "move"}, {"dx", 1}, {"dy", 1}});
    ASSERT_FALSE(phone->ended());
    h.store.revoke(phone->conn()->device->id);
    phone->send({{"t", "move"}, {"dx", 1}, {"dy", 1}});
    expectEndedWith(*phone, SecureError::authentication());
}

TEST_F(Authenticated, Scope_ChangedInStore_AppliesFromNextFrame) {
    auto phone = h.phone("Phone");
    phone->send({{"t", "key"}, {"k", "a"}});
    EXPECT_EQ(h.lastLog(), "key a []");
    h.store.setScope(phone->conn()->device->id, PairedDevice::Scope::presenter);
    phone->send({{"t", "key"}, {"k", "b"}});
    EXPECT_EQ(h.lastLog(), "key a []");
    EXPECT_EQ(h.lastEvent(), "Rejected a command from Phone");
}

TEST_F(Authenticated, PresenterGate_AllowedTypesAndActionsOnly) {
    auto phone = h.phone("Slides", PairedDevice::Scope::presenter);
    struct Case {
        json command;
        bool allowed;
    };
    const std::vector<Case> cases = {
        {{{"t", "key"}, {"k", "a"}}, false},
        {{{"t", "action"}, {"a", "next_slide"}}, true},
        {{{"t", "action"}, {"a", "copy"}}, false},
        {{{"t", "action"}}, false},
        {{{"t", "action"}, {"a", 5}}, false},
        {{{"t", "pointer"}, {"d", 1}}, true},
        {{{"t", "laser"}, {"on", false}}, true},
        {{{"t", "find_cursor"}}, true},
        {{{"t", "stats_get"}}, true},
        {{{"t", "click"}}, true},
        {{{"t", "screen"}, {"on", true}}, false},
        {{{"t", "open"}, {"url", "https://example.org"}}, false},
        {{{"t", "window"}, {"op", "max"}}, false},
        {{{"t", "clip_get"}}, false},
        {{{"t", "apps_get"}}, false},
        {{{"t", "text"}, {"s", "x"}}, false},
    };
    std::vector<std::string> events;
    auto sub = h.core->subscribe([&](HelperCore::Property p) {
        if (p == HelperCore::Property::lastEvent) events.push_back(h.lastEvent());
    });
    for (const auto& c : cases) {
        const auto before = h.log().size();
        const auto repliesBefore = phone->received().size();
        events.clear();
        phone->send(c.command);
        const bool acted = h.log().size() > before || phone->received().size() > repliesBefore;
        EXPECT_EQ(acted, c.allowed) << c.command.dump();
        // This case's own event: the line is set anew by each rejection, and never otherwise.
        const auto expected = c.allowed ? std::vector<std::string>{}
                                        : std::vector<std::string>{"Rejected a command from Slides"};
        EXPECT_EQ(events, expected) << c.command.dump();
        ASSERT_FALSE(phone->ended());
    }
    h.loop.runPosted();
    EXPECT_TRUE(phone->receivedOfType("screen_state").empty());
}

TEST_F(Authenticated, Frames_Counted_EvenWhenInvalid) {
    auto phone = h.phone("Phone");
    auto other = h.phone("Other");
    h.loop.advance(1.0);
    for (int i = 0; i < 3; ++i) phone->send({{"t", "ping"}});
    auto bad = other->seal("{}");
    bad[20] ^= 1;
    other->sendFrame(bad);
    h.loop.advance(1.0);
    EXPECT_EQ(h.core->framesPerSecond(), 4);
}

}  // namespace
}  // namespace tamborix::testing
