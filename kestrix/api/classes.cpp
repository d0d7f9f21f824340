// The classes of libkestrix by registered name. A web script or job creates a class by its
// name, calls one method and releases it.
#include <array>

#include "kestrix/documents/distribution_list.h"
#include "kestrix/api/document.h"
#include "kestrix/documents/receive_method.h"
#include "kestrix/documents/sender_list.h"
#include "kestrix/documents/base64.h"
#include "kestrix/foundation/imethodcall.h"
#include "kestrix/documents/obi.h"
#include "kestrix/delivery/push_doc_utils.h"
#include "kestrix/delivery/send_method.h"
#include "kestrix/foundation/general.h"
#include "kestrix/documents/label_replacements.h"
#include "kestrix/api/utility.h"
#include "kestrix/documents/attachments.h"
#include "kestrix/foundation/file_handling.h"
#include "kestrix/intake/pipeline.h"
#include "kestrix/intake/publish_by_upload.h"
#include "kestrix/intake/email_import.h"
#include "kestrix/intake/publish_create_document.h"
#include "kestrix/intake/publish_forward_document.h"
#include "kestrix/foundation/xml.h"
#include "kestrix/rules/rules.h"
#include "kestrix/rules/templates.h"
#include "kestrix/rules/user_defined_fields.h"
#include "kestrix/web/collaboration.h"
#include "kestrix/web/sql_queries.h"

namespace kestrix {

/// Publishes the enumerations with the library; it has no methods.
class EnumsConstantsGlobalVars : public Object {};

namespace {

template <typename T>
ObjectPtr Make() {
    return std::make_shared<T>();
}

constexpr std::array kClasses{
    component::ClassEntry{"Kestrix.Collaboration", &Make<Collaboration>},
    component::ClassEntry{"Kestrix.Document", &Make<Document>},
    component::ClassEntry{"Kestrix.Base64", &Make<Base64>},
    component::ClassEntry{"Kestrix.OBI", &Make<OBI>},
    component::ClassEntry{"Kestrix.PushDocUtils", &Make<PushDocUtils>},
    component::ClassEntry{"Kestrix.SendMethod", &Make<SendMethod>},
    component::ClassEntry{"Kestrix.PublishCreateDocument", &Make<PublishCreateDocument>},
    component::ClassEntry{"Kestrix.PublishByUpload", &Make<PublishByUpload>},
    component::ClassEntry{"Kestrix.PublishForwardDocument", &Make<PublishForwardDocument>},
    component::ClassEntry{"Kestrix.Pipeline", &Make<Pipeline>},
    component::ClassEntry{"Kestrix.EMailImport", &Make<EMailImport>},
    component::ClassEntry{"Kestrix.EnumsConstantsGlobalVars", &Make<EnumsConstantsGlobalVars>},
    component::ClassEntry{"Kestrix.LabelReplacements", &Make<LabelReplacements>},
    component::ClassEntry{"Kestrix.Utility", &Make<Utility>},
    component::ClassEntry{"Kestrix.Attachments", &Make<Attachments>},
    component::ClassEntry{"Kestrix.FileHandling", &Make<FileHandling>},
    component::ClassEntry{"Kestrix.XML", &Make<XML>},
    component::ClassEntry{"Kestrix.Rules", &Make<Rules>},
    component::ClassEntry{"Kestrix.IMethodCall", &Make<IMethodCall>},
    component::ClassEntry{"Kestrix.UserDefinedFields", &Make<UserDefinedFields>},
    component::ClassEntry{"Kestrix.Template", &Make<Template>},
    component::ClassEntry{"Kestrix.ReceiveMethod", &Make<ReceiveMethod>},
    component::ClassEntry{"Kestrix.SenderList", &Make<SenderList>},
    component::ClassEntry{"Kestrix.DistributionList", &Make<DistributionList>},
    component::ClassEntry{"Kestrix.SQLQueries", &Make<SQLQueries>},
    component::ClassEntry{"Kestrix.Queries", &Make<Queries>},
};

}  // namespace

std::span<const component::ClassEntry> KestrixClasses() { return kClasses; }

}  // namespace kestrix
