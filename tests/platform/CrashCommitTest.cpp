// CrashCommitTest.cpp: a writer killed with SIGKILL at random moments of its
// commits. After every kill the store reads and holds exactly one whole
// version (never a mixture, never an older one than before the kill) with
// that version's password from the secrets file, no file others may read
// holds a password, and the temporaries of killed writers never trip a later
// commit.
//
// VZ_CRASH_ROUNDS sets the number of kills (100 by default).
#include "StoreTestSupport.h"

#include <csignal>
#include <cstdlib>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

using namespace vztest;

namespace {

// Version n's password.
std::string Password(long n)
{
    return "pw-of-version-" + std::to_string(n);
}

// Version n of the store: its number, its password, and a payload that
// depends on it, large enough for a kill to land inside the write now and
// then.
std::string VersionBody(long n)
{
    std::string body = "<dict><key>Version</key><string>" + std::to_string(n) +
                       "</string><key>Entity</key><dict><key>AuthPassword</key><string>" +
                       Password(n) + "</string></dict><key>Payload</key><array>";
    for (int i = 0; i < 300; i++)
        body +=
            "<string>entry " + std::to_string(i) + " of version " + std::to_string(n) + "</string>";
    return body + "</array></dict>";
}

[[noreturn]] void CommitForever(long first)
{
    for (long n = first;; n++) {
        SCPreferencesRef prefs = SCPreferencesCreate(nullptr, CFSTR("crash"), nullptr);
        if (prefs == nullptr) _exit(3);
        CFPropertyListRef tree = CreatePlist(PlistText(VersionBody(n)));
        auto              dict = static_cast<CFDictionaryRef>(tree);
        bool              ok   = SCPreferencesSetValue(prefs, CFSTR("Version"),
                                                       CFDictionaryGetValue(dict, CFSTR("Version"))) &&
                  SCPreferencesSetValue(prefs, CFSTR("Payload"),
                                        CFDictionaryGetValue(dict, CFSTR("Payload"))) &&
                  SCPreferencesSetValue(prefs, CFSTR("Entity"),
                                        CFDictionaryGetValue(dict, CFSTR("Entity"))) &&
                  SCPreferencesCommitChanges(prefs);
        CFRelease(tree);
        CFRelease(prefs);
        if (!ok) _exit(4);
    }
}

class CrashCommit : public StoreTest {};

TEST_F(CrashCommit, KilledWriterLeavesOneWholeVersion)
{
    long rounds = 100;
    if (const char *text = std::getenv("VZ_CRASH_ROUNDS")) rounds = std::atol(text);
    WriteStore(VersionBody(0));
    std::mt19937 random(20240613);
    long         version = 0;
    const ino_t  first   = StatStore().st_ino;
    for (long round = 0; round < rounds; round++) {
        pid_t child = fork();
        if (child == 0) CommitForever(version + 1);
        // Until one commit has gone through, the writer gets the time for
        // one (up to 30 s): on a loaded machine a commit and its two fsyncs
        // can outlast every window below, and the rounds would prove nothing.
        for (int waited = 0; version == 0 && StatStore().st_ino == first && waited < 30000;
             waited++)
            usleep(1000);
        usleep(std::uniform_int_distribution<useconds_t>(0, 20000)(random));
        ASSERT_EQ(kill(child, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped on its own in round " << round;

        VZFlushPlatformCaches();
        Ref<SCPreferencesRef> prefs = Open();
        ASSERT_TRUE(prefs) << "the store does not read after round " << round;
        long now = 0;
        if (auto text = SCPreferencesGetValue(prefs, CFSTR("Version")))
            now = std::atol(Utf8(static_cast<CFStringRef>(text)).c_str());
        ASSERT_GE(now, version) << "an older version came back in round " << round;
        Ref<CFPropertyListRef> expected(CreatePlist(PlistText(VersionBody(now))));
        for (CFStringRef key : {CFSTR("Entity"), CFSTR("Payload")}) {
            CFTypeRef seen = SCPreferencesGetValue(prefs, key);
            ASSERT_TRUE(seen != nullptr &&
                        CFEqual(seen, CFDictionaryGetValue(
                                          static_cast<CFDictionaryRef>(expected.get()), key)))
                << "a mixture of versions, or one without its password, in round " << round;
        }
        prefs = Ref<SCPreferencesRef>();
        // (Version 0 is a store written before, its password inline.)
        for (long n : {now, now + 1}) {
            if (n == 0) continue;
            ASSERT_EQ(FilesOthersReadHolding(root_, Password(n)), std::vector<std::string>())
                << "round " << round;
        }
        version = now;
    }
    EXPECT_GT(version, 0) << "no commit ever completed";

    // Whatever the killed writers left behind, the next commit goes through
    // and clears it.
    Ref<SCPreferencesRef> prefs = Open();
    ASSERT_TRUE(SCPreferencesSetValue(prefs, CFSTR("Version"), CFSTR("final")));
    EXPECT_TRUE(SCPreferencesCommitChanges(prefs));
    EXPECT_EQ(Leftovers(), std::vector<std::string>());
}

} // namespace
