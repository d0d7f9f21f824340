// A plug-in library built for an entry version the host does not know: the host must refuse
// it before calling anything but the entry.

#include "platform/component/plugin_entry.h"

namespace {

KxStatus Create(const char*, void**, const KxHost*) { return KX_NO_SUCH_CLASS; }
KxStatus Call(void*, const char*, const KxValue*, size_t, const KxHost*) { return KX_FAILED; }
void Destroy(void*) {}

constexpr KxPluginEntry kEntry{KESTRIX_PLUGIN_ENTRY_VERSION + 1, &Create, &Call, &Destroy};

}  // namespace

extern "C" __attribute__((visibility("default"))) const KxPluginEntry* kestrix_plugin_entry(void) {
    return &kEntry;
}
