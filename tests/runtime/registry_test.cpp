#include "tests/runtime/runtime_test_support.h"

#include "runtime/registry.h"

namespace {

const char TEST_ROOT_KEY[] = "Software\\QzTest";

class RegistryHelpers : public RuntimeService {
protected:
    void SetUp() override
    {
        RuntimeService::SetUp();
        RegDeleteTreeA(HKEY_CURRENT_USER, TEST_ROOT_KEY);
    }

    void TearDown() override
    {
        RegDeleteTreeA(HKEY_CURRENT_USER, TEST_ROOT_KEY);
        RemoveDirectoryA((ModuleDirectoryPath() + "qz_dir\\inner").c_str());
        RemoveDirectoryA((ModuleDirectoryPath() + "qz_dir").c_str());
        DeleteFileA((ModuleDirectoryPath() + "qz_delete_me.tmp").c_str());
        RuntimeService::TearDown();
    }

    // The value's raw bytes when it is a REG_SZ, read with the registry's
    // own calls.
    static std::string StringValue(const char* subkey, const char* name)
    {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return "<no key>";
        char bytes[256];
        DWORD size = sizeof bytes;
        DWORD type = 0;
        const LONG status = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(bytes), &size);
        RegCloseKey(key);
        if (status != ERROR_SUCCESS || type != REG_SZ)
            return "<no REG_SZ value>";
        return std::string(bytes, size);
    }

    static DWORD ValueCount(const char* subkey)
    {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return 0;
        DWORD values = 0;
        RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr);
        RegCloseKey(key);
        return values;
    }
};

// The stored bytes are the text and exactly one terminating zero; a second
// write replaces the first value, under keys made on the way.
TEST_F(RegistryHelpers, WritingTwiceKeepsOneRegSzValueWithTheSecondText)
{
    struct Case {
        const char* subkey;
        const char* text;
        std::string stored;
    };
    const Case cases[] = {
        {"Software\\QzTest\\Zivora Varelle\\", "D:\\Winamp\\", std::string("D:\\Winamp\\", 11)},
        {"Software\\QzTest\\one\\two\\three", "value", std::string("value", 6)},
        {"Software\\QzTest\\empty", nullptr, std::string(1, '\0')},
    };
    for (const Case& c : cases) {
        const char* const old = "C:\\Program Files\\Old\\";
        EXPECT_EQ(REGISTRY_SET, RegistryWriteString(HKEY_CURRENT_USER, c.subkey, "WinAmpDir", old));
        EXPECT_EQ(REGISTRY_SET, RegistryWriteString(HKEY_CURRENT_USER, c.subkey, "WinAmpDir", c.text));
        EXPECT_EQ(c.stored, StringValue(c.subkey, "WinAmpDir")) << c.subkey;
        EXPECT_EQ(1u, ValueCount(c.subkey)) << c.subkey;
    }
}

TEST_F(RegistryHelpers, WriteFreesItsCopiesAndAKeyThatCannotBeOpenedGetsNothing)
{
    const int busyBefore = HeapBusyBlocks(InstallerState.RuntimeHeap);
    HKEY const notAKey = reinterpret_cast<HKEY>(0x7FFF0000);
    EXPECT_EQ(REGISTRY_NOT_OPENED, RegistryWriteString(notAKey, TEST_ROOT_KEY, "Value", "text"));
    EXPECT_EQ(busyBefore, HeapBusyBlocks(InstallerState.RuntimeHeap));
    HKEY key = nullptr;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, TEST_ROOT_KEY, 0, KEY_READ, &key));

    EXPECT_EQ(REGISTRY_SET, RegistryWriteString(HKEY_CURRENT_USER, TEST_ROOT_KEY, "Value", "text"));
    EXPECT_EQ(busyBefore, HeapBusyBlocks(InstallerState.RuntimeHeap));
}

TEST_F(RegistryHelpers, DirectoryCreateMakesOnlyTheLastComponent)
{
    const std::string base = ModuleDirectoryPath();
    EXPECT_EQ(0, DirectoryCreate((base + "qz_dir\\inner\\").c_str()));
    EXPECT_FALSE(FileExists(base + "qz_dir"));
    EXPECT_NE(0, DirectoryCreate((base + "qz_dir\\").c_str()));
    EXPECT_NE(0, DirectoryCreate((base + "qz_dir\\inner\\").c_str()));
    EXPECT_TRUE(FileExists(base + "qz_dir\\inner"));
    // An existing directory is reported as not created.
    EXPECT_EQ(0, DirectoryCreate((base + "qz_dir").c_str()));
}

TEST_F(RegistryHelpers, HelpersResolveRelativeNamesWithoutMovingTheCurrentDirectory)
{
    const std::string base = ModuleDirectoryPath();
    ASSERT_TRUE(SetCurrentDirectoryA(base.c_str()));
    WriteWholeFile(base + "qz_delete_me.tmp", "x");

    EXPECT_NE(0, FileDelete("qz_delete_me.tmp"));
    EXPECT_FALSE(FileExists(base + "qz_delete_me.tmp"));
    EXPECT_EQ(0, FileDelete("qz_delete_me.tmp"));
    EXPECT_NE(0, DirectoryCreate("qz_dir"));
    EXPECT_TRUE(FileExists(base + "qz_dir"));
    EXPECT_PRED2(SamePath, base, CurrentDirectoryPath());

    // From elsewhere, a relative name stays elsewhere and so does the process.
    const std::string elsewhere = ElsewhereDirectoryPath();
    ASSERT_TRUE(SetCurrentDirectoryA(elsewhere.c_str()));
    WriteWholeFile(base + "qz_delete_me.tmp", "x");
    EXPECT_EQ(0, FileDelete("qz_delete_me.tmp"));
    EXPECT_TRUE(FileExists(base + "qz_delete_me.tmp"));
    EXPECT_EQ(REGISTRY_SET, RegistryWriteString(HKEY_CURRENT_USER, "Software\\QzTest", "v", "t"));
    EXPECT_PRED2(SamePath, elsewhere, CurrentDirectoryPath());
}

} // namespace
