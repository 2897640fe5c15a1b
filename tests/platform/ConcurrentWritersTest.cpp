// ConcurrentWritersTest.cpp: several processes making read-modify-write
// changes to one store at once. Every change reported committed is in the
// final store, every other one was reported as an error: nothing is lost
// silently. The same for the dynamic store, whose writes are locked.
#include "StoreTestSupport.h"

#include <set>
#include <sys/wait.h>
#include <unistd.h>

using namespace vztest;

namespace {

constexpr int kWriters = 4;
constexpr int kChanges = 30;

// Appends entry to the Log array of a fresh snapshot and commits. Writers
// with useLock take the lock first, trying again while their snapshot is
// stale by the time they hold it.
bool AppendToLog(const std::string &entry, bool useLock)
{
    for (int attempt = 0; attempt < (useLock ? 100 : 1); attempt++) {
        SCPreferencesRef prefs = SCPreferencesCreate(nullptr, CFSTR("writer"), nullptr);
        if (prefs == nullptr) return false;
        if (useLock && !SCPreferencesLock(prefs, true)) {
            CFRelease(prefs);
            continue;
        }
        CFArrayRef        log = static_cast<CFArrayRef>(SCPreferencesGetValue(prefs, CFSTR("Log")));
        CFMutableArrayRef more = log != nullptr
                                     ? CFArrayCreateMutableCopy(nullptr, 0, log)
                                     : CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
        CFStringRef text = CFStringCreateWithCString(nullptr, entry.c_str(), kCFStringEncodingUTF8);
        CFArrayAppendValue(more, text);
        bool ok =
            SCPreferencesSetValue(prefs, CFSTR("Log"), more) && SCPreferencesCommitChanges(prefs);
        CFRelease(text);
        CFRelease(more);
        CFRelease(prefs);
        return ok;
    }
    return false;
}

class ConcurrentWriters : public StoreTest {
  protected:
    // Forks kWriters children running body(writer, reportFd) and waits for
    // them; returns every line they reported.
    template <typename Body> std::vector<std::string> RunWriters(Body body)
    {
        int report[2];
        EXPECT_EQ(pipe(report), 0);
        std::vector<pid_t> children;
        for (int writer = 0; writer < kWriters; writer++) {
            pid_t child = fork();
            if (child == 0) {
                close(report[0]);
                body(writer, report[1]);
                _exit(0);
            }
            children.push_back(child);
        }
        close(report[1]);
        std::string all;
        char        buffer[4096];
        for (ssize_t n; (n = read(report[0], buffer, sizeof buffer)) > 0;)
            all.append(buffer, n);
        close(report[0]);
        for (pid_t child : children) {
            int status = 0;
            EXPECT_EQ(waitpid(child, &status, 0), child);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }
        std::vector<std::string> lines;
        for (size_t start = 0, end; (end = all.find('\n', start)) != std::string::npos;
             start        = end + 1)
            lines.push_back(all.substr(start, end - start));
        return lines;
    }
};

// Each line is written whole in one write, shorter than the pipe's atomic size.
void Report(int fd, const std::string &line)
{
    std::string text = line + "\n";
    if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) _exit(2);
}

TEST_F(ConcurrentWriters, NoCommittedChangeIsLost)
{
    WriteStore("<dict><key>Log</key><array/></dict>");
    std::vector<std::string> lines = RunWriters([](int writer, int fd) {
        for (int change = 0; change < kChanges; change++) {
            std::string entry = std::to_string(writer) + "-" + std::to_string(change);
            // Half the writers lock, half rely on the commit's own check.
            bool ok = AppendToLog(entry, writer % 2 == 0);
            Report(fd, entry + (ok ? " committed" : " refused"));
        }
    });
    ASSERT_EQ(lines.size(), static_cast<size_t>(kWriters * kChanges));

    std::set<std::string> committed;
    for (const std::string &line : lines) {
        std::string entry = line.substr(0, line.find(' '));
        if (line.ends_with(" committed")) committed.insert(entry);
    }
    Ref<CFPropertyListRef> tree = StoreTree();
    ASSERT_TRUE(tree);
    auto log = static_cast<CFArrayRef>(
        CFDictionaryGetValue(static_cast<CFDictionaryRef>(tree.get()), CFSTR("Log")));
    std::multiset<std::string> stored;
    for (CFIndex i = 0; i < CFArrayGetCount(log); i++)
        stored.insert(Utf8(static_cast<CFStringRef>(CFArrayGetValueAtIndex(log, i))));
    EXPECT_EQ(std::set<std::string>(stored.begin(), stored.end()), committed);
    EXPECT_EQ(stored.size(), committed.size()); // nothing twice
    // The locking writers always get through.
    for (int change = 0; change < kChanges; change++)
        EXPECT_TRUE(committed.contains("0-" + std::to_string(change)));
    EXPECT_EQ(Leftovers(), std::vector<std::string>());
}

TEST_F(ConcurrentWriters, DynamicStoreWritesAreNeverLost)
{
    RunWriters([](int writer, int fd) {
        SCDynamicStoreRef store = SCDynamicStoreCreate(nullptr, CFSTR("writer"), nullptr, nullptr);
        for (int change = 0; change < kChanges; change++) {
            std::string key =
                "State:/Test/" + std::to_string(writer) + "/" + std::to_string(change);
            CFStringRef k  = CFStringCreateWithCString(nullptr, key.c_str(), kCFStringEncodingUTF8);
            bool        ok = SCDynamicStoreSetValue(store, k, k);
            CFRelease(k);
            if (!ok) Report(fd, key + " failed");
        }
        CFRelease(store);
    });
    Ref<SCDynamicStoreRef> store(SCDynamicStoreCreate(nullptr, CFSTR("t"), nullptr, nullptr));
    Ref<CFArrayRef>        keys(SCDynamicStoreCopyKeyList(store, CFSTR("State:/Test/.*")));
    ASSERT_TRUE(keys);
    EXPECT_EQ(CFArrayGetCount(keys), kWriters * kChanges);
}

} // namespace
