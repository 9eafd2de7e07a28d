// The library as a program loads it: the shared object exports the olva_
// functions under their plain names and nothing else of its insides.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "cavrel_olva.h"

namespace {

class SharedLibraryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        library_ = dlopen(OLVA_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library_, nullptr) << dlerror();
    }
    void TearDown() override
    {
        if (library_)
            dlclose(library_);
    }
    template <class Function>
    Function* find(const char* name)
    {
        return reinterpret_cast<Function*>(dlsym(library_, name));
    }

    void* library_ = nullptr;
};

TEST_F(SharedLibraryTest, TheInterfaceIsExportedUnderItsPlainNames)
{
    for (const char* name :
         {"olva_open", "olva_close", "olva_open_logfile", "olva_open_logfileEx",
          "olva_close_logfile", "olva_check_coder", "olva_get_line_state", "olva_set_volume",
          "olva_set_Speakervolume", "olva_play_pause", "olva_get_device_versionnum",
          "olva_get_product_ID", "olva_get_product_name", "olva_get_serial_number",
          "olva_set_send_dtmf_param", "olva_get_send_dtmf_param", "olva_write_usernum",
          "olva_get_work_mode", "olva_get_dev_data", "olva_set_dev_data",
          "olva_write_gsm_devtype", "olva_delete_file", "olva_judge_file_size",
          "olva_uploadFile", "olva_close_agc", "olva_set_busy_tone", "olva_get_usernum",
          "olva_read_eeprom", "olva_read_eepromEx", "olva_write_eeprom"})
        EXPECT_NE(dlsym(library_, name), nullptr) << name;

    // The library's own copy answers: closed, it offers nothing.
    auto* check_coder = find<int(int)>("olva_check_coder");
    auto* upload = find<int(const void*, const void*, const void*)>("olva_uploadFile");
    auto* version = find<int(unsigned long, float*)>("olva_get_device_versionnum");
    ASSERT_TRUE(check_coder && upload && version);
    EXPECT_EQ(check_coder(0), OLVA_ERR_NOT_AVAILABLE);
    EXPECT_EQ(upload(nullptr, nullptr, nullptr), OLVA_ERR_UNSUPPORTED);
    float v = 0;
    EXPECT_EQ(version(0x101, &v), OLVA_ERR_FAILED);
}

TEST_F(SharedLibraryTest, ItsInsidesStayHidden)
{
    for (const char* name : {"g_pOlvaMgr", "_ZN11OlvaManagerC1Ev", "_Z6loggeriPKcS0_S0_z",
                             "_Z11logger_initPKcS1_", "_ZN9HidDevice8hid_openEPKcm12OLVA_PRODUCT"})
        EXPECT_EQ(dlsym(library_, name), nullptr) << name;
}

}  // namespace
