#include <gtest/gtest.h>

#include "protocol/secure_error.h"

namespace tamborix {
namespace {

TEST(SecureErrorText, EachCase_HasItsUserFacingText) {
    EXPECT_EQ(SecureError::malformed("base64").errorDescription(), "Malformed message (base64)");
    EXPECT_STREQ(SecureError::malformed("frame").what(), "Malformed message (frame)");
    EXPECT_EQ(SecureError::authentication().errorDescription(), "Message failed authentication");
    EXPECT_EQ(SecureError::replay().errorDescription(), "Replayed or out-of-order message");
    EXPECT_EQ(SecureError::serverKeyChanged().errorDescription(),
              "This computer's identity changed \u2014 possible impersonation. Re-pair to "
              "continue.");
    EXPECT_EQ(SecureError::invalidKey().errorDescription(), "Invalid key");
}

TEST(SecureErrorEquality, MalformedComparesDetail_OthersCompareCase) {
    EXPECT_EQ(SecureError::malformed("frame"), SecureError::malformed("frame"));
    EXPECT_NE(SecureError::malformed("frame"), SecureError::malformed("session"));
    EXPECT_EQ(SecureError::replay(), SecureError::replay());
    EXPECT_NE(SecureError::replay(), SecureError::authentication());
    EXPECT_NE(SecureError::malformed(""), SecureError::invalidKey());
    EXPECT_EQ(SecureError::malformed("length").kind(), SecureError::Kind::malformed);
    EXPECT_EQ(SecureError::malformed("length").detail(), "length");
}

}  // namespace
}  // namespace tamborix
