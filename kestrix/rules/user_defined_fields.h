#pragma once

#include <cstdint>
#include <string>

#include "platform/base/object.h"
#include "platform/base/variant.h"
#include "platform/db/connection.h"
#include "platform/xml/xml.h"

namespace kestrix {

/// "Kestrix.UserDefinedFields": the values of the fields an administrator configured per
/// document type (table TAGSCONFIG: an element name, an attribute name or a complete
/// pattern), taken out of each document and kept in TAGSVALUE, one row per document and
/// field, so that the web lists can show and filter them.
///
/// A value is the trimmed text of the first node the field's pattern selects, cut to its
/// first 100 characters (never inside a multi-byte character); "" when nothing is selected
/// or the pattern is rejected. Methods given a connection work on it; the others open their
/// own and close it before they return. Failures are raised on with the source
/// "Kestrix.UserDefinedFields.<method>".
/// True when the document type has user-defined fields (TAGSCONFIG rows); kept with the
/// site's other look-ups while a site cache scope lives.
bool TypeHasUserDefinedFields(const std::string& docTypeId);

class UserDefinedFields : public Object {
  public:
    /// Replaces the stored values of the document by those of `iXMLDoc` for every field of
    /// the type. A document without content changes nothing. Answers true when done.
    bool FillTagsValueTable(int32_t& iDocID, const std::string& iDocTypeID,
                            const xml::XmlDocument& iXMLDoc);
    bool FillTagsValueTable(int32_t& iDocID, const std::string& iDocTypeID,
                            const xml::XmlDocument& iXMLDoc, db::Connection& iConn);
    /// As above, with the document held by a variant (an `xml::XmlDocument` object); any
    /// other value is a type mismatch.
    bool FillTagsValueTable(int32_t& iDocID, const std::string& iDocTypeID, const Variant& iXMLDoc);
    bool FillTagsValueTable(int32_t& iDocID, const std::string& iDocTypeID, const Variant& iXMLDoc,
                            db::Connection& iConn);

    /// Recomputes the stored values of a stored document from its standard body.
    void UpdateValuesInTagsValueTable(int32_t& iDocID, const std::string& iDocTypeID);
    /// As above, from the standard body the caller holds parsed (it is not read again).
    void UpdateValuesInTagsValueTable(int32_t& iDocID, const std::string& iDocTypeID,
                                      const xml::XmlDocument& iStandard);
    /// The values of a row stored in the caller's unit of work just now, which has none yet
    /// to replace, from the standard body the caller holds parsed.
    void FillValuesOfNewDocument(int32_t iDocID, const std::string& iDocTypeID,
                                 const xml::XmlDocument& iStandard);

    /// Removes every stored value of the document.
    void DeleteTagsForDocument(int32_t iDocID);
    void DeleteTagsForDocument(int32_t iDocID, db::Connection& iConn);

    /// Recomputes one field for every stored document of the type, after its definition
    /// changed. Answers Empty.
    Variant UpdateTagsValueTable(const std::string& iDocTypeID, int32_t& iTagID);

    /// Adds the value of one field for every stored document of the type. A field the type
    /// does not define adds nothing. A document whose value cannot be stored is logged and
    /// skipped; a body that does not parse is skipped silently.
    void AddTagsValueTable(const std::string& iDocTypeID, int32_t iTagID);
    void AddTagsValueTable(const std::string& iDocTypeID, int32_t iTagID, db::Connection& iConn);

  private:
    /// Stores the values of the tree's fields; `replace`: the document's old values go first.
    bool Fill(int32_t docID, const std::string& docTypeID, const xml::XmlDocument& dom,
              db::Connection* given, bool replace = true);
    void Delete(int32_t docID, db::Connection* given);
    void Add(const std::string& docTypeID, int32_t tagID, db::Connection* given);
};

}  // namespace kestrix
