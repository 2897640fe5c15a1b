// BundleTest.cpp: bundles over folders, a real framework built with the
// tests and loaded from a temporary root, the load errors, and the main
// bundle.
#include "StoreTestSupport.h"

#include <unistd.h>

using namespace vztest;

namespace {

class Bundle : public TempRoot {
  protected:
    static constexpr const char *kFrameworks = "System/Library/Frameworks";

    // Installs the test library as the executable of a framework, at
    // relative (under the framework folder).
    std::string Install(const std::string &framework, const std::string &relative) const
    {
        std::string folder = Path(std::string(kFrameworks) + "/" + framework);
        std::filesystem::create_directories(
            std::filesystem::path(folder + "/" + relative).parent_path());
        std::filesystem::copy_file(VZ_TEST_GREETER_PATH, folder + "/" + relative);
        return folder;
    }
    static Ref<CFBundleRef> Create(const std::string &folder)
    {
        Ref<CFURLRef> url(CFURLCreateFromFileSystemRepresentation(
            nullptr, reinterpret_cast<const UInt8 *>(folder.data()),
            static_cast<CFIndex>(folder.size()), true));
        return Ref<CFBundleRef>(CFBundleCreate(nullptr, url));
    }
};

TEST_F(Bundle, AFrameworkLoadsFromEitherPlaceOfItsExecutable)
{
    for (const char *relative : {"Greeter", "Versions/Current/Greeter"}) {
        SCOPED_TRACE(relative);
        std::string      folder = Install("Greeter.framework", relative);
        Ref<CFBundleRef> bundle = Create(folder);
        ASSERT_TRUE(bundle);
        EXPECT_FALSE(CFBundleIsExecutableLoaded(bundle));
        CFErrorRef error = reinterpret_cast<CFErrorRef>(1);
        ASSERT_TRUE(CFBundleLoadExecutableAndReturnError(bundle, &error));
        EXPECT_EQ(error, nullptr);
        EXPECT_TRUE(CFBundleIsExecutableLoaded(bundle));
        auto answer = reinterpret_cast<int (*)(void)>(
            CFBundleGetFunctionPointerForName(bundle, CFSTR("VZGreeterAnswer")));
        ASSERT_NE(answer, nullptr);
        EXPECT_EQ(answer(), 42);
        EXPECT_EQ(CFBundleGetFunctionPointerForName(bundle, CFSTR("NoSuchFunction")), nullptr);
        std::filesystem::remove_all(folder);
    }
}

TEST_F(Bundle, WhatDoesNotLoadSaysWhyWithoutPrinting)
{
    // A folder without code, and one whose "executable" is not a shared
    // object.
    std::filesystem::create_directories(Path(std::string(kFrameworks) + "/Empty.framework"));
    Write(std::string(kFrameworks) + "/Broken.framework/Broken", "not a shared object");
    const struct {
        const char *framework;
        CFIndex     code;
    } rows[] = {
        {"Empty.framework", kCFBundleExecutableNotFoundError},
        {"Broken.framework", kCFBundleExecutableLoadError},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.framework);
        Ref<CFBundleRef> bundle = Create(Path(std::string(kFrameworks) + "/" + row.framework));
        ASSERT_TRUE(bundle);
        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();
        EXPECT_FALSE(CFBundleLoadExecutable(bundle));
        CFErrorRef error = nullptr;
        EXPECT_FALSE(CFBundleLoadExecutableAndReturnError(bundle, &error));
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        ASSERT_NE(error, nullptr);
        Ref<CFErrorRef> held(error);
        EXPECT_EQ(CFErrorGetCode(error), row.code);
        EXPECT_TRUE(CFEqual(CFErrorGetDomain(error), kCFBundleErrorDomain));
        Ref<CFStringRef> reason(CFErrorCopyFailureReason(error));
        Ref<CFStringRef> description(CFErrorCopyDescription(error));
        EXPECT_NE(Utf8(description).find(row.framework), std::string::npos);
        if (row.code == kCFBundleExecutableLoadError) {
            // The loader's own message names the file it refused.
            EXPECT_NE(Utf8(reason).find("Broken.framework/Broken"), std::string::npos)
                << Utf8(reason);
        }
        EXPECT_EQ(CFBundleGetFunctionPointerForName(bundle, CFSTR("VZGreeterAnswer")), nullptr);
    }

    Write("a file", "x");
    EXPECT_FALSE(Create(Path("a file")));
    EXPECT_FALSE(Create(Path("missing")));
}

TEST_F(Bundle, TheMainBundleIsTheProgramsFolder)
{
    CFBundleRef main = CFBundleGetMainBundle();
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(CFBundleGetMainBundle(), main);
    Ref<CFURLRef> url(CFBundleCopyBundleURL(main));
    UInt8         path[4096];
    ASSERT_TRUE(CFURLGetFileSystemRepresentation(url, true, path, sizeof path));
    char program[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", program, sizeof program - 1), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(path)),
              std::filesystem::path(program).parent_path().string());
    EXPECT_TRUE(CFBundleLoadExecutable(main));
    EXPECT_NE(CFBundleGetFunctionPointerForName(main, CFSTR("strlen")), nullptr);
}

} // namespace
