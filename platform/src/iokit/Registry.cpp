// Registry.cpp: the registry tree and its builder.
#include "Registry.h"

#include "ClassTable.h"
#include "StringStorage.h"

#include <unordered_map>

namespace vz {

namespace {

CFStringRef reservedKey(const char *text) noexcept
{
    return __CFStringMakeConstantString(text);
}

bool isReservedKey(CFStringRef key) noexcept
{
    static const CFStringRef kReserved[] = {reservedKey(kRegistryClassKey),
                                            reservedKey(kRegistryNameKey),
                                            reservedKey(kRegistryChildrenKey)};
    for (CFStringRef reserved : kReserved)
        if (CFEqual(key, reserved)) return true;
    return false;
}

} // namespace

// ---- Registry ----------------------------------------------------------------

CFStringRef Registry::className(Index entry) const noexcept
{
    return classes_[entries_[entry].classIndex].name.get();
}

const std::string &Registry::classNameUTF8(Index entry) const noexcept
{
    return classes_[entries_[entry].classIndex].utf8;
}

bool Registry::conformsTo(Index entry, std::string_view className) const noexcept
{
    return classConformsTo(classNameUTF8(entry), className);
}

CFStringRef Registry::name(Index entry) const noexcept
{
    const Entry &e = entries_[entry];
    return e.name ? e.name.get() : className(entry);
}

CFTypeRef Registry::property(Index entry, CFStringRef key) const noexcept
{
    CFDictionaryRef properties = entries_[entry].properties.get();
    if (properties == nullptr || isReservedKey(key)) return nullptr;
    return CFDictionaryGetValue(properties, key);
}

CFMutableDictionaryRef Registry::copyProperties(Index entry) const noexcept
{
    CFDictionaryRef        properties = entries_[entry].properties.get();
    CFMutableDictionaryRef copy =
        properties != nullptr
            ? CFDictionaryCreateMutableCopy(nullptr, 0, properties)
            : CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                        &kCFTypeDictionaryValueCallBacks);
    if (copy == nullptr) return nullptr;
    CFDictionaryRemoveValue(copy, reservedKey(kRegistryClassKey));
    CFDictionaryRemoveValue(copy, reservedKey(kRegistryNameKey));
    CFDictionaryRemoveValue(copy, reservedKey(kRegistryChildrenKey));
    return copy;
}

// ---- RegistryBuilder ---------------------------------------------------------

RegistryBuilder::RegistryBuilder()
{
    nodes_.emplace_back();
    nodes_.back().className = CFRef<CFStringRef>::retain(reservedKey(kRegistryRootClass));
}

void RegistryBuilder::setRoot(CFStringRef className, CFStringRef name, CFDictionaryRef properties)
{
    if (className != nullptr) nodes_[0].className = CFRef<CFStringRef>::retain(className);
    nodes_[0].name       = CFRef<CFStringRef>::retain(name);
    nodes_[0].properties = CFRef<CFDictionaryRef>::retain(properties);
}

Registry::Index RegistryBuilder::addEntry(Registry::Index parent, CFStringRef className,
                                          CFStringRef name, CFDictionaryRef properties)
{
    auto index = static_cast<Registry::Index>(nodes_.size());
    Node node;
    node.className  = CFRef<CFStringRef>::retain(className);
    node.name       = CFRef<CFStringRef>::retain(name);
    node.properties = CFRef<CFDictionaryRef>::retain(properties);
    nodes_.push_back(std::move(node));
    nodes_[parent].children.push_back(index);
    return index;
}

std::shared_ptr<const Registry> RegistryBuilder::finish()
{
    auto registry = std::make_shared<Registry>();
    registry->entries_.reserve(nodes_.size());

    // Equal class names are usually one shared string of the parse, so the
    // object decides first and the text only when the objects differ.
    std::unordered_map<CFStringRef, uint32_t> byObject;
    std::unordered_map<std::string, uint32_t> byText;
    auto                                      internClass = [&](CFStringRef name) -> uint32_t {
        auto found = byObject.find(name);
        if (found != byObject.end()) return found->second;
        std::string text = toUTF8String(name);
        auto [slot, added] = byText.emplace(text, static_cast<uint32_t>(registry->classes_.size()));
        if (added)
            registry->classes_.push_back({CFRef<CFStringRef>::retain(name), std::move(text)});
        byObject.emplace(name, slot->second);
        return slot->second;
    };

    // Depth first without recursion: a registry may be as deep as its
    // source allows.
    struct Visit {
        Registry::Index node;
        Registry::Index entry;     // where the node went
        size_t          nextChild; // the next of its children to lay out
    };
    std::vector<Visit> stack;
    auto               place = [&](Registry::Index node, Registry::Index parent) {
        Registry::Entry entry;
        entry.parent     = parent;
        entry.classIndex = internClass(nodes_[node].className.get());
        entry.name       = std::move(nodes_[node].name);
        entry.properties = std::move(nodes_[node].properties);
        registry->entries_.push_back(std::move(entry));
        stack.push_back({node, static_cast<Registry::Index>(registry->entries_.size() - 1), 0});
    };
    place(0, Registry::kNoParent);
    while (!stack.empty()) {
        Visit &top = stack.back();
        if (top.nextChild < nodes_[top.node].children.size()) {
            Registry::Index child = nodes_[top.node].children[top.nextChild++];
            place(child, top.entry); // may move the stack: top is not used after
            continue;
        }
        registry->entries_[top.entry].subtreeEnd =
            static_cast<Registry::Index>(registry->entries_.size());
        stack.pop_back();
    }
    nodes_.clear();
    return registry;
}

} // namespace vz
