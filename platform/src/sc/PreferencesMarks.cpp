// PreferencesMarks.cpp: restore points in a snapshot's edits, so that a
// caller whose series of edits fails half way can leave the snapshot as it
// found it.
#include "PreferencesStore.h"

#include <SystemConfiguration/SystemConfiguration.h>

namespace vz {

namespace {

bool sameFile(const FileIdentity &a, const FileIdentity &b) noexcept
{
    return a.sameMetadata(b) && a.hash == b.hash;
}

} // namespace

void PreferencesStore::pushMark()
{
    marks_.push_back({tree_.recordedEdits(), changed_, identity_});
    tree_.setRecording(true);
}

int PreferencesStore::popMark(bool restore)
{
    if (marks_.empty()) return kSCStatusInvalidArgument;
    Mark mark = marks_.back();
    marks_.pop_back();
    int status = kSCStatusOK;
    if (restore) {
        status = tree_.undoTo(mark.edits);
        if (status == kSCStatusOK) {
            // The tree is the one the mark saw: as changed as it was then,
            // unless a commit since wrote another one.
            changed_ = mark.changed || !sameFile(identity_, mark.identity);
        } else {
            untrusted_ = true;
        }
    }
    // Edits made since belong to the enclosing mark, if there is one.
    if (marks_.empty()) tree_.setRecording(false);
    return status;
}

} // namespace vz
