// The identity in use and the object password store.
#include <cstdlib>
#include <cstring>

#include "client/core/zipcrypt.h"
#include "client/servers/upgrade.h"
#include "spine_fixture.h"

class Identity : public Spine {
 protected:
  void SetUp() override {
    Spine::SetUp();
    install();
    ASSERT_EQ(msg_init(), 0);
  }
};

TEST_F(Identity, NameChangesCountOnlyRealChanges) {
  EXPECT_STREQ(citizen_name(), "nobody");  // none yet: message 81
  citizen_set_name("Ada");
  EXPECT_EQ(citizen_name_changes(), 0);  // the first name is no change
  citizen_set_name("Ada");
  EXPECT_EQ(citizen_name_changes(), 0);
  citizen_set_name("ada");
  EXPECT_EQ(citizen_name_changes(), 1);  // letter case counts
  const char* stored = citizen_set_name("\"Guest\"");
  EXPECT_STREQ(stored, "\"Guest\"");
  EXPECT_STREQ(citizen_name(), "\"Guest\"");
  EXPECT_EQ(citizen_name_changes(), 2);
}

TEST_F(Identity, SetNameKeepsItsOwnCopy) {
  char buffer[16];
  std::strcpy(buffer, "Bob");
  citizen_set_name(buffer);
  std::strcpy(buffer, "Eve");
  EXPECT_STREQ(citizen_name(), "Bob");
  citizen_set_password(buffer);
  buffer[0] = 'X';
  EXPECT_STREQ(citizen_password(), "Eve");
}

TEST_F(Identity, EffectiveNumber) {
  EXPECT_EQ(citizen_effective_number(), 0);
  citizen_store_number(1234);
  EXPECT_EQ(citizen_number(), 1234);
  EXPECT_EQ(citizen_effective_number(), 1234);
  citizen_set_number(0);
  EXPECT_EQ(citizen_effective_number(), 0);
}

TEST_F(Identity, ObjectPasswordRoundTripsThroughTheCipher) {
  object_password_set("s3cret", 6);
  EXPECT_STREQ(object_password(), "s3cret");
  size_t n = 0;
  uint8_t* enciphered = object_password_enciphered(&n);
  ASSERT_NE(enciphered, nullptr);
  ASSERT_EQ(n, 6u);
  EXPECT_NE(std::memcmp(enciphered, "s3cret", 6), 0);
  // Known answer: the built-in key's cipher of the same bytes.
  uint8_t expect[6];
  std::memcpy(expect, "s3cret", 6);
  zipcrypt_encrypt(nullptr, 0, expect, 6);
  EXPECT_EQ(std::memcmp(enciphered, expect, 6), 0);
  object_password_set("", 0);
  EXPECT_STREQ(object_password(), "");
  object_password_set_enciphered(enciphered, n);
  EXPECT_STREQ(object_password(), "s3cret");
  std::free(enciphered);
}

TEST_F(Identity, EmptyObjectPassword) {
  EXPECT_STREQ(object_password(), "");
  EXPECT_EQ(object_password_enciphered(nullptr), nullptr);
  object_password_set("x", 1);
  object_password_set_enciphered(reinterpret_cast<const uint8_t*>("zz"), 0);
  EXPECT_STREQ(object_password(), "");
  object_password_set_enciphered(nullptr, 5);
  EXPECT_STREQ(object_password(), "");
  size_t n = 99;
  EXPECT_EQ(object_password_enciphered(&n), nullptr);
  EXPECT_EQ(n, 0u);
}

TEST_F(Identity, AboutBoxShowsVersionBuildAndThatNobodyIsLoggedIn) {
  version_init();  // start-up reads the version before the box first shows
  ASSERT_EQ(about_show(0), 0);
  EXPECT_TRUE(host_.about_control_shown(ABOUT_OK));
  EXPECT_FALSE(host_.about_control_shown(ABOUT_CANCEL));
  EXPECT_EQ(host_.about_text(ABOUT_OK), "OK");
  EXPECT_EQ(host_.about_text(ABOUT_STATUS), "not logged in");
  EXPECT_EQ(host_.about_text(ABOUT_VERSION), msg_arg(43, msg(68), double(version())));
  EXPECT_EQ(host_.about_text(ABOUT_BUILD), "build " + std::to_string(TESSEL_BUILD_NUMBER));
  about_show(0);
  EXPECT_EQ(host_.about_created(), 1);  // shown again, not made again
  host_.press_about(ABOUT_OK);
  EXPECT_FALSE(host_.about_exists());
  EXPECT_FALSE(about_cancel_pressed());
}
