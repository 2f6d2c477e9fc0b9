#include <gtest/gtest.h>

#include "hex.h"
#include "protocol/aead.h"
#include "protocol/handshake.h"
#include "protocol/secure_error.h"
#include "protocol/wire.h"
#include "testing/fixed_random.h"

namespace tamborix {
namespace {

using nlohmann::json;
using testing::FixedRandom;

constexpr std::uint64_t deviceSeed = 1, serverSeed = 2, phoneSeed = 3, helperSeed = 4;

Bytes field(const json& object, const char* key) {
    return Wire::b64d(object.at(key).get<std::string>(), 200);
}

Bytes bytesOf(const std::array<std::uint8_t, 32>& a) { return Bytes(a.begin(), a.end()); }

struct Fixture {
    FixedRandom deviceRng{deviceSeed}, serverRng{serverSeed}, phoneRng{phoneSeed},
        helperRng{helperSeed};
    KeyPair device = KeyPair::generate(deviceRng);
    KeyPair server = KeyPair::generate(serverRng);
    Bytes devicePub = bytesOf(device.publicKey());
};

void expectAcceptError(const KeyPair& server, const json& hello, const Bytes& devicePub,
                       const SecureError& expected, bool drawsRandomness = false) {
    FixedRandom rng;
    try {
        (void)ServerHandshake::accept(server, hello, devicePub, rng);
        ADD_FAILURE() << "accepted " << hello.dump();
    } catch (const SecureError& e) {
        EXPECT_EQ(e, expected) << hello.dump() << " gave " << e.what();
    }
    if (!drawsRandomness) {
        EXPECT_EQ(rng.bytesDrawn(), 0u) << hello.dump();
    }
}

TEST(PhoneHandshakeRequest, Fields_CarryKeysNonceAndOptionalName) {
    Fixture f;
    PhoneHandshake hello(f.device, PhoneHandshake::Kind::hello, {}, f.phoneRng);
    const json& r = hello.request();
    EXPECT_EQ(r.at("t"), "hello2");
    EXPECT_EQ(r.at("v"), 2);
    EXPECT_FALSE(r.contains("name"));
    EXPECT_EQ(field(r, "dev"), f.devicePub);

    // The ephemeral key is drawn first, then the nonce.
    FixedRandom replay(phoneSeed);
    const KeyPair eph = KeyPair::generate(replay);
    EXPECT_EQ(field(r, "e"), bytesOf(eph.publicKey()));
    EXPECT_EQ(field(r, "nc"), Wire::randomBytes(16, replay));
    EXPECT_EQ(r.at("nc").get<std::string>().size(), 22u);

    PhoneHandshake pair(f.device, PhoneHandshake::Kind::pair, "Ann's phone");
    EXPECT_EQ(pair.request().at("t"), "pair2");
    EXPECT_EQ(pair.request().at("name"), "Ann's phone");
}

TEST(Handshake, FixedRandomness_BothSidesDeriveTheSameDeterminedSession) {
    Fixture f;
    PhoneHandshake phone(f.device, PhoneHandshake::Kind::hello, "phone", f.phoneRng);
    // The request travels as a line of text.
    const json hello = json::parse(phone.request().dump());
    auto accepted = ServerHandshake::accept(f.server, hello, f.devicePub, f.helperRng);
    const json& reply = accepted.reply;

    EXPECT_EQ(reply.size(), 7u);
    EXPECT_EQ(reply.at("t"), "welcome2");
    EXPECT_EQ(reply.at("v"), 2);
    EXPECT_EQ(reply.at("nc"), hello.at("nc"));
    EXPECT_EQ(field(reply, "srv"), bytesOf(f.server.publicKey()));

    // The helper draws its ephemeral key, then its nonce, then the session id.
    FixedRandom helperReplay(helperSeed);
    const KeyPair helperEph = KeyPair::generate(helperReplay);
    const Bytes ns = Wire::randomBytes(16, helperReplay);
    const Bytes sid = Wire::randomBytes(8, helperReplay);
    EXPECT_EQ(field(reply, "e"), bytesOf(helperEph.publicKey()));
    EXPECT_EQ(field(reply, "ns"), ns);
    EXPECT_EQ(field(reply, "sid"), sid);
    EXPECT_EQ(accepted.session->sid(), sid);

    // The transcript, rebuilt here from its parts.
    FixedRandom phoneReplay(phoneSeed);
    const KeyPair phoneEph = KeyPair::generate(phoneReplay);
    const Bytes nc = Wire::randomBytes(16, phoneReplay);
    Bytes transcript = toBytes("velmorand-v2");
    for (const Bytes& part : {f.devicePub, bytesOf(f.server.publicKey()),
                              bytesOf(phoneEph.publicKey()), bytesOf(helperEph.publicKey()), nc,
                              ns}) {
        transcript.insert(transcript.end(), part.begin(), part.end());
    }
    ASSERT_EQ(transcript.size(), 172u);
    const auto th = Wire::sha256(transcript);
    EXPECT_EQ(accepted.session->th(), bytesOf(th));

    // The keys, from the phone's private halves.
    Bytes ikm;
    for (const auto& s : {phoneEph.dh(helperEph.publicKey()), phoneEph.dh(f.server.publicKey()),
                          f.device.dh(helperEph.publicKey()), f.device.dh(f.server.publicKey())}) {
        ikm.insert(ikm.end(), s.begin(), s.end());
    }
    const auto [toHelper, toPhone] = ClientHandshake::deriveKeys(ikm, th);
    EXPECT_NE(toHelper, toPhone);

    const Bytes pairedServer = bytesOf(f.server.publicKey());
    auto phoneSession = phone.finish(json::parse(reply.dump()), &pairedServer);
    EXPECT_EQ(phone.serverKey(), bytesOf(f.server.publicKey()));
    EXPECT_EQ(phoneSession->sid(), sid);
    EXPECT_EQ(phoneSession->th(), bytesOf(th));

    // Phone to helper under the first key, helper to phone under the second.
    const Bytes up = phoneSession->seal(toBytes("{\"t\":\"ping\"}"));
    EXPECT_EQ(accepted.session->open(up), toBytes("{\"t\":\"ping\"}"));
    Bytes plain(12);
    EXPECT_TRUE(Aead::open(plain.data(), ByteView(up).subspan(17, 12), up.data() + 29,
                           ByteView(up).first(17), SecureSession::nonce(0), toHelper));
    const Bytes down = accepted.session->seal(toBytes("{\"t\":\"ready\"}"));
    EXPECT_EQ(phoneSession->open(down), toBytes("{\"t\":\"ready\"}"));
    plain.resize(13);
    EXPECT_TRUE(Aead::open(plain.data(), ByteView(down).subspan(17, 13), down.data() + 30,
                           ByteView(down).first(17), SecureSession::nonce(0), toPhone));

    // The same randomness reproduces the same exchange byte for byte.
    FixedRandom again(helperSeed);
    const auto second = ServerHandshake::accept(f.server, hello, f.devicePub, again);
    EXPECT_EQ(second.reply.dump(), reply.dump());
    EXPECT_EQ(second.session->seal(toBytes("{\"t\":\"ready\"}")), down);
}

TEST(ClientHandshakeDeriveKeys, FixedInput_PhoneToHelperKeyFirst) {
    // HKDF-SHA-256 with salt th and info "velmorand-v2 keys", computed independently.
    const auto [toHelper, toPhone] =
        ClientHandshake::deriveKeys(testing::range(0x00, 0x80), testing::range(0x80, 0xa0));
    EXPECT_EQ(testing::toHex(toHelper),
              "8513707b1364488495215d3549e5fb354ff444be17047bffcc339b90a15be399");
    EXPECT_EQ(testing::toHex(toPhone),
              "c14a7caee1ad724b98079569ab3a734bb4c144dddce81b2641cadd0e91f66bac");
}

TEST(Handshake, SameRequestTwice_DifferentEphemeralNonceSidAndKeys) {
    Fixture f;
    PhoneHandshake phone(f.device, PhoneHandshake::Kind::hello);
    const auto a = ServerHandshake::accept(f.server, phone.request(), f.devicePub);
    const auto b = ServerHandshake::accept(f.server, phone.request(), f.devicePub);
    for (const char* key : {"e", "ns", "sid"}) EXPECT_NE(a.reply.at(key), b.reply.at(key)) << key;
    EXPECT_EQ(a.reply.at("srv"), b.reply.at("srv"));
    EXPECT_NE(a.session->th(), b.session->th());

    // A frame of session a, relabelled with b's id, does not authenticate under b's keys.
    auto phoneB = phone.finish(b.reply);
    Bytes frame = a.session->seal(toBytes("{}"));
    std::copy(b.session->sid().begin(), b.session->sid().end(), frame.begin() + 1);
    try {
        (void)phoneB->open(frame);
        ADD_FAILURE();
    } catch (const SecureError& e) {
        EXPECT_EQ(e, SecureError::authentication());
    }
}

TEST(Handshake, PaddedStandardBase64Request_AcceptedAndNonceEchoedVerbatim) {
    Fixture f;
    PhoneHandshake phone(f.device, PhoneHandshake::Kind::pair, {}, f.phoneRng);
    json hello = phone.request();
    for (const char* key : {"dev", "e", "nc"}) hello[key] = Wire::b64std(field(hello, key));
    ASSERT_EQ(hello.at("nc").get<std::string>().substr(22), "==");
    const auto accepted = ServerHandshake::accept(f.server, hello, f.devicePub);
    EXPECT_EQ(accepted.reply.at("nc"), hello.at("nc"));
    EXPECT_EQ(accepted.reply.at("e").get<std::string>().size(), 43u);
    EXPECT_EQ(accepted.reply.at("ns").get<std::string>().size(), 22u);
    EXPECT_EQ(accepted.reply.at("sid").get<std::string>().size(), 11u);
}

TEST(ServerHandshakeAccept, BadFields_FailWithTheirError) {
    Fixture f;
    PhoneHandshake phone(f.device, PhoneHandshake::Kind::hello);
    const json good = phone.request();
    const auto with = [&](const char* key, json value) {
        json h = good;
        if (value.is_discarded()) {
            h.erase(key);
        } else {
            h[key] = std::move(value);
        }
        return h;
    };
    const json missing = json(json::value_t::discarded);
    const std::string shortKey = Wire::b64url(Bytes(31, 9));
    const std::string longKey = Wire::b64url(Bytes(33, 9));

    expectAcceptError(f.server, with("dev", missing), f.devicePub, SecureError::malformed("base64"));
    expectAcceptError(f.server, with("dev", 5), f.devicePub, SecureError::malformed("base64"));
    expectAcceptError(f.server, with("dev", "not base64!"), f.devicePub,
                      SecureError::malformed("base64"));
    expectAcceptError(f.server, with("dev", std::string(204, 'A')), f.devicePub,
                      SecureError::malformed("base64"));
    expectAcceptError(f.server, with("dev", shortKey), f.devicePub, SecureError::malformed("length"));
    expectAcceptError(f.server, good, bytesOf(f.server.publicKey()),
                      SecureError::malformed("device key"));
    expectAcceptError(f.server, good, Bytes(f.devicePub.begin(), f.devicePub.end() - 1),
                      SecureError::malformed("device key"));
    expectAcceptError(f.server, with("e", missing), f.devicePub, SecureError::malformed("base64"));
    expectAcceptError(f.server, with("e", longKey), f.devicePub, SecureError::malformed("length"));
    expectAcceptError(f.server, with("nc", 7), f.devicePub, SecureError::malformed("base64"));
    expectAcceptError(f.server, with("nc", Wire::b64url(Bytes(15, 1))), f.devicePub,
                      SecureError::malformed("length"));
    expectAcceptError(f.server, json::array({1, 2}), f.devicePub, SecureError::malformed("base64"));
    expectAcceptError(f.server, json(nullptr), f.devicePub, SecureError::malformed("base64"));

    // Low-order keys pass the format checks and fail in the Diffie-Hellman step.
    expectAcceptError(f.server, with("e", Wire::b64url(Bytes(32, 0))), f.devicePub,
                      SecureError::invalidKey(), true);
    const Bytes zeroDevice(32, 0);
    expectAcceptError(f.server, with("dev", Wire::b64url(zeroDevice)), zeroDevice,
                      SecureError::invalidKey(), true);
}

TEST(PhoneHandshakeFinish, BadReplies_Refused) {
    Fixture f;
    PhoneHandshake phone(f.device, PhoneHandshake::Kind::hello);
    const json welcome = ServerHandshake::accept(f.server, phone.request(), f.devicePub).reply;
    const auto expectError = [&](const json& reply, const SecureError& expected,
                                 const Bytes* server = nullptr) {
        try {
            (void)phone.finish(reply, server);
            ADD_FAILURE() << reply.dump();
        } catch (const SecureError& e) {
            EXPECT_EQ(e, expected) << reply.dump() << " gave " << e.what();
        }
    };
    expectError(json{{"t", "error"}, {"msg", "not paired"}, {"nc", welcome.at("nc")}},
                SecureError::malformed("not paired"));
    expectError(json{{"t", "error"}, {"msg", "unsupported protocol (update the app)"}},
                SecureError::malformed("unsupported protocol (update the app)"));
    expectError(json::array(), SecureError::malformed("reply"));
    json wrong = welcome;
    wrong["v"] = 3;
    expectError(wrong, SecureError::malformed("reply"));
    wrong = welcome;
    wrong["nc"] = Wire::b64url(Bytes(16, 0));
    expectError(wrong, SecureError::malformed("nonce"));
    wrong = welcome;
    wrong["sid"] = Wire::b64url(Bytes(9, 0));
    expectError(wrong, SecureError::malformed("length"));
    wrong = welcome;
    wrong.erase("srv");
    expectError(wrong, SecureError::malformed("base64"));

    const Bytes other(32, 0x42);
    expectError(welcome, SecureError::serverKeyChanged(), &other);
    EXPECT_TRUE(phone.serverKey().empty());

    const Bytes paired = bytesOf(f.server.publicKey());
    EXPECT_NE(phone.finish(welcome, &paired), nullptr);
    EXPECT_EQ(phone.serverKey(), paired);
}

}  // namespace
}  // namespace tamborix
