#pragma once

// The plug-in author's side of the plug-in entry, header-only: a plug-in library writes its
// classes as before (deriving from IMethodCall, or answering methods by name through
// Object::Invoke), lists them in a table and names the table once:
//
//     constexpr kestrix::plugin::PluginClass kClasses[] = {{"Acme.Orders", &MakeOrders}};
//     KESTRIX_PLUGIN_CLASSES(kClasses)
//
// The macro defines the library's one exported C function. Everything the entry does runs
// inside a catch-all: an error the plug-in throws reaches the host as a number, a source and
// a description, never as an exception.

#include <cstdint>
#include <exception>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "kestrix/foundation/imethodcall.h"
#include "platform/base/error.h"
#include "platform/component/plugin_entry.h"
#include "platform/component/plugin_values.h"

namespace kestrix::plugin {

/// One class a plug-in library offers: its registered name and the function that makes it.
struct PluginClass {
    const char* name;
    ObjectPtr (*make)();
};

namespace detail {

/// True when the two names are equal ignoring ASCII case.
inline bool SameName(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

/// Reports the exception being handled to the host; always KX_FAILED.
inline KxStatus ReportFailure(const KxHost* host) noexcept {
    constexpr int32_t kUnspecified = static_cast<int32_t>(0x80004005u);
    try {
        try {
            throw;
        } catch (const Error& e) {
            host->fail(host->context, e.number(), e.source().c_str(), e.description().c_str());
        } catch (const std::exception& e) {
            host->fail(host->context, kUnspecified, "", e.what());
        }
    } catch (...) {
        host->fail(host->context, kUnspecified, "", "The plug-in failed without saying why.");
    }
    return KX_FAILED;
}

template <const auto& Classes>
KxStatus Create(const char* className, void** object, const KxHost* host) noexcept {
    try {
        for (const PluginClass& entry : Classes) {
            if (!SameName(entry.name, className)) continue;
            ObjectPtr made = entry.make();
            if (!made)
                throw Error(static_cast<int32_t>(0x80004005u), className,
                            "The class made no object.");
            *object = new ObjectPtr(std::move(made));
            return KX_OK;
        }
        return KX_NO_SUCH_CLASS;
    } catch (...) {
        return ReportFailure(host);
    }
}

inline KxStatus Call(void* object, const char* method, const KxValue* arguments, size_t count,
                     const KxHost* host) noexcept {
    try {
        std::vector<Variant> args;
        args.reserve(count);
        for (size_t i = 0; i < count; ++i) args.push_back(component::VariantOf(arguments[i]));
        const Variant answer = (*static_cast<ObjectPtr*>(object))->Invoke(method, args);
        component::PluginValues values;
        for (size_t i = 0; i < count; ++i) {
            if (component::SameValue(args[i], arguments[i])) continue;
            const KxValue changed = values.Of(args[i]);
            host->change_argument(host->context, i, &changed);
        }
        const KxValue out = values.Of(answer);
        host->answer(host->context, &out);
        return KX_OK;
    } catch (...) {
        return ReportFailure(host);
    }
}

inline void Destroy(void* object) noexcept { delete static_cast<ObjectPtr*>(object); }

template <const auto& Classes>
const KxPluginEntry* Entry() noexcept {
    static const KxPluginEntry entry{KESTRIX_PLUGIN_ENTRY_VERSION, &Create<Classes>, &Call,
                                     &Destroy};
    return &entry;
}

}  // namespace detail
}  // namespace kestrix::plugin

/// Defines the plug-in library's entry for the table `classes` (an array of PluginClass
/// with static storage). Use it once, outside any namespace.
#define KESTRIX_PLUGIN_CLASSES(classes)                                                          \
    extern "C" __attribute__((visibility("default"))) const KxPluginEntry* kestrix_plugin_entry( \
        void) {                                                                                  \
        return ::kestrix::plugin::detail::Entry<classes>();                                      \
    }
