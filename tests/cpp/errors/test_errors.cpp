#include "libzv/errors.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <utility>

TEST(LastError, StartsEmptyAndKeepsTheLastStoredPair) {
    // The state is the calling thread's: a thread that has stored nothing reads code 0 and the
    // empty text, whatever this one stored before.
    zv::set_error(zv::Error::invalid_device);
    int fresh_code = -1;
    std::string fresh_text = "unset";
    std::thread([&] {
        fresh_code = zv_get_error();
        fresh_text = zv_get_error_string();
    }).join();
    EXPECT_EQ(fresh_code, 0);
    EXPECT_EQ(fresh_text, "");

    EXPECT_EQ(zv::set_error(zv::Error::usb_in_request), 32);
    EXPECT_EQ(zv_get_error(), 32);
    EXPECT_STREQ(zv_get_error_string(), "usb in request error");
    // Reading never clears it.
    EXPECT_EQ(zv_get_error(), 32);

    EXPECT_EQ(zv::set_error(zv::Error::gain_mode_unreadable), -1);
    EXPECT_STREQ(zv_get_error_string(), "unable to read gain mode");

    // "no devices found" is a failure reported with code 0.
    EXPECT_EQ(zv::set_error(zv::Error::no_devices_found), 0);
    EXPECT_STREQ(zv_get_error_string(), "no devices found");
}

TEST(LastError, MessagesAreStaticAndReturnedByPointer) {
    zv::set_error(zv::Error::invalid_device);
    const char *first = zv_get_error_string();
    zv::set_error(zv::Error::success);
    zv::set_error(zv::Error::invalid_device);
    EXPECT_EQ(first, zv_get_error_string());
}

TEST(LastError, ComposedMessagesAreCopiedAndKeepTheEntrysCode) {
    std::string text = "cannot write /data/run.h5: no space left on device";
    EXPECT_EQ(zv::set_error_text(zv::Error::file_error, text.c_str()), ZV_ERROR_FILE);
    text.assign(text.size(), 'x');
    EXPECT_EQ(zv_get_error(), 58);
    EXPECT_STREQ(zv_get_error_string(), "cannot write /data/run.h5: no space left on device");
    zv::set_error(zv::Error::invalid_device);
    EXPECT_STREQ(zv_get_error_string(), "invalid device");
}

TEST(ErrorTable, EveryPairIsDistinctAndCodesAreTheDocumentedOnes) {
    const std::set<int> codes = {0, 32, 48, 49, 50, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, -1};
    std::set<std::pair<int, std::string>> seen;
    for (int i = 0; i < static_cast<int>(zv::Error::count_); ++i) {
        auto e = static_cast<zv::Error>(i);
        EXPECT_TRUE(codes.count(zv::error_code(e))) << zv::error_message(e);
        EXPECT_NE(std::string(zv::error_message(e)), "");
        EXPECT_TRUE(seen.insert({zv::error_code(e), zv::error_message(e)}).second)
            << "duplicate " << zv::error_message(e);
    }
    EXPECT_EQ(seen.size(), 51u);
    EXPECT_STREQ(zv::error_message(zv::Error::firmware_error),
                 "error occured in firmware on the device");
    EXPECT_EQ(zv::error_code(zv::Error::unknown_filter_mode), 53);
}

TEST(Version, IsTheProjectVersion) {
    int major = -1, minor = -1, patch = -1;
    zv_get_version(&major, &minor, &patch);
    EXPECT_EQ(std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch),
              ZV_PROJECT_VERSION);
}
