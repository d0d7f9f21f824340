#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/base/object.h"
#include "platform/base/variant.h"

namespace kestrix {

/// "Kestrix.PublishByUpload": the upload road. Before a user uploads a document, the web page
/// holds a temporary document, a DOCUMENT row without type; the uploaded file lies in its
/// upload folder, <upload root>/<document identifier>. This class reads the upload back as
/// XML text (the page publishes it), removes what an upload leaves behind, and clears out
/// the temporary documents and upload folders of earlier days.
///
/// Every statement that deletes a document carries the condition "without type", so a
/// document that has been given a type is never deleted here. Failures are reported and
/// raised on with the source "Kestrix.PublishByUpload." and the operation's name.
class PublishByUpload : public Object {
  public:
    /// Removes the temporary documents created before today: their publication errors, the
    /// files of their upload folders under `iPath` (the folders stay) and their rows. Called
    /// by the web pages and by the service's daily clean-up (with
    /// `FileHandling::GetFolderName(UploadFolder)` as the root).
    void DeleteAllOldTempXMLFiles(std::string& iPath);
    /// Deletes the document's row when it has no type.
    void DeleteTempDocumentInDB(int32_t& iDocID);
    /// The XML text of the upload: the first non-empty file ending in "xml" (any case) of the
    /// upload folder, in name order. Every file of the folder is deleted and then the folder
    /// itself. "" when the folder does not exist. A text that does not parse raises the
    /// parser's error; an OBI document raises CannotLoadFile; a folder without such a file
    /// raises MissingXMLFile.
    std::string ReadXMLFile(std::string& iXMLPath, int32_t& iDocID);
    /// Deletes the upload folder with everything in it, and the document's row when it has
    /// no type.
    void DeleteXMLFileAndDocument(std::string& iXMLTempPath, int32_t& iDocID);
    /// The XML text converted from the first non-empty workbook of the upload folder (a file
    /// ending in "xls", "xlsx" or "xlsm", any case). Every file of the folder is deleted and
    /// then the folder. NotAnExcelFile when the folder is missing, holds no workbook, or the
    /// workbook cannot be read.
    std::string ReadExcelFile(std::string& i_sExcelPath, int32_t& i_lDocID);

    /// Late-bound calls of the operations by name.
    Variant Invoke(std::string_view method, std::span<Variant> args) override;

  private:
    /// Deletes the files of the upload folder (not the folder).
    void DeleteOldTempFile(const std::string& root, int32_t docId);
    /// Deletes the rows of the temporary documents created before `cutoff` ("yyyy-mm-dd").
    void DeleteOldBlankDocumentsInDB(const std::string& cutoff);
    /// Deletes the upload folder with everything in it, when it exists.
    void deleteXMLFile(const std::string& root, int32_t docId);
    /// Deletes the document's row when it has no type.
    void DeleteDocumentFromDB(int32_t docId);
};

}  // namespace kestrix
