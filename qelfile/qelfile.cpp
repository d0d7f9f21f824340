// The class table of libqelfile: libkestrix and the platform's component loader find the
// classes "QelFile.File" and "QelFile.XML" through it.
#include <cstddef>
#include <memory>

#include "platform/component/component.h"
#include "qelfile/file.h"
#include "qelfile/xml.h"

namespace {

kestrix::ObjectPtr MakeFile() { return std::make_shared<kestrix::qelfile::File>(); }
kestrix::ObjectPtr MakeXml() { return std::make_shared<kestrix::qelfile::XML>(); }

constexpr kestrix::component::ClassEntry kClasses[] = {
    {"QelFile.File", &MakeFile},
    {"QelFile.XML", &MakeXml},
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const kestrix::component::ClassEntry*
kestrix_component_classes(size_t* count) {
    *count = sizeof kClasses / sizeof kClasses[0];
    return kClasses;
}
