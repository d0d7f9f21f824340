#include "qelfile/xml.h"

#include "qelfile/error_reporter.h"
#include "qelfile/file.h"

namespace kestrix::qelfile {

namespace {

void ReportFailure(std::string_view source) { Reraise(source); }

std::string MapPath(std::string_view path) { return LocalPath(path); }

}  // namespace

XML::XML() : XmlUtility("QelFile.XML.", xml::XmlUtilityHooks{&ReportFailure, &MapPath}) {}

}  // namespace kestrix::qelfile
