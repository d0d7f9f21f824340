// The folder import: documents dropped as files into the import folders are claimed, read,
// split and handed to processing one transaction per document; whatever fails is kept in
// the error folder, and a database that cannot be used leaves the file for a later run.
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "kestrix/delivery/email.h"
#include "kestrix/documents/obi.h"
#include "kestrix/documents/qel_excel.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/file_handling.h"
#include "kestrix/foundation/files.h"
#include "kestrix/foundation/i18n.h"
#include "kestrix/foundation/site_settings.h"
#include "kestrix/intake/document_import.h"
#include "kestrix/intake/error_folder.h"
#include "kestrix/intake/import_claims.h"
#include "kestrix/processing/document_processing.h"
#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/db/connection.h"
#include "platform/services/file_paths.h"
#include "platform/xml/xml.h"

namespace kestrix {

namespace fs = std::filesystem;

namespace {

constexpr const char* kCrLf = "\r\n";

std::string Source(std::string_view step) { return "Kestrix.DocumentImport." + std::string(step); }

/// A label's text with its placeholders filled; the code itself when it cannot be had.
std::string Label(std::string_view code, std::initializer_list<std::pair<const char*, std::string>> entries = {}) {
    Dictionary replacements;
    for (const auto& [key, value] : entries) replacements.Add(key, value);
    return LabelOrCode(code, 0, replacements);
}

/// Logs a failure that is no error being handled: one entry with its text.
void LogFailure(std::string_view step, const std::string& text, int32_t number = errnum::E_FAIL) noexcept {
    try {
        throw Error(number, Source(step), text);
    } catch (...) {
        LogError(Source(step));
    }
}

/// The kinds of file the import takes.
enum class FileKind { None, Xml, Workbook, Obi };

/// The kind by the file name's extension, ignoring case: every workbook the engine reads.
FileKind KindOf(const std::string& name) {
    const std::string extension = FileHandling().GetFileExtension(name);
    if (extension == "xml") return FileKind::Xml;
    if (IsWorkbookDocumentName(name)) return FileKind::Workbook;
    if (extension == "obi") return FileKind::Obi;
    return FileKind::None;
}

/// A name the import never takes: the claim marker, and the hidden names of files still
/// being written (".NAME.part").
bool NeverTaken(const std::string& name) {
    const std::string trimmed = Trim(name);
    return trimmed.empty() || trimmed.starts_with('~') || name.starts_with('.');
}

/// The database could not be used: the file waits for a later run, and the run ends.
struct DatabaseUnavailable {
    std::string reason;
};
/// Another run took the claim back: the file is its business now.
struct ClaimLost {};
/// The file as a whole is set aside with this label text (logged once, where it is thrown).
struct SetAside {
    std::string message;
};

/// One document of a file.
struct Piece {
    std::string xml;
};

/// Everything a run carries from file to file.
struct RunState {
    ImportTally tally;
    const std::atomic<bool>* stop = nullptr;
    DocumentMetrics* metrics = nullptr;
    size_t worker = 0;
    size_t workers = 1;
    std::function<void(const ImportedFile&)> report;
    bool ended = false;  // the database went away: no further file
    /// Claims whose files are done (deleted or set aside), dropped together.
    std::vector<import_claims::Claim> finished;
    bool StopAsked() const { return ended || (stop && stop->load()); }
};

/// Moves the claimed file into the error folder; answers the new path ("" when it failed,
/// which is logged).
std::string ToErrorFolder(const fs::path& claimed) {
    try {
        return error_folder::MoveFileToErrorDir(claimed);
    } catch (...) {
        LogError(Source("ImportFilesForFolder"), claimed.string());
        return {};
    }
}

class FileImport {
  public:
    FileImport(RunState& run, import_claims::Claim claim, const fs::path& folder, std::string name,
               std::string delimiter, bool excelInstalled)
        : run_(run),
          claim_(std::move(claim)),
          original_(folder / name),
          claimed_(claim_.filePath),
          name_(std::move(name)),
          kind_(KindOf(name_)),
          delimiter_(std::move(delimiter)),
          excelInstalled_(excelInstalled) {
        result_.path = original_.string();
    }

    /// Works the file through; never raises.
    void Run() {
        ++run_.tally.filesTaken;
        try {
            if (claim_.done.count(-1)) {
                // Recorded as set aside by a run that ended before the move.
                ToErrorFolder(claimed_);
                result_.outcome = ImportedFile::Outcome::SetAside;
                Finish(true);
                return;
            }
            std::vector<Piece> pieces;
            try {
                pieces = Read();
            } catch (const SetAside& aside) {
                SetFileAside(aside.message);
                return;
            }
            // The transaction of the last document still to do also marks the file finished.
            int32_t last = -1;
            for (size_t i = 0; i < pieces.size(); ++i)
                if (!claim_.done.count(static_cast<int32_t>(i))) last = static_cast<int32_t>(i);
            for (size_t i = 0; i < pieces.size(); ++i) {
                if (claim_.done.count(static_cast<int32_t>(i))) continue;
                ProcessOne(pieces[i], static_cast<int32_t>(i), static_cast<int32_t>(i) == last);
            }
            result_.outcome = result_.refused ? ImportedFile::Outcome::PartlyRefused : ImportedFile::Outcome::Imported;
            Finish(true);
        } catch (const DatabaseUnavailable& unavailable) {
            PutBack(unavailable.reason);
        } catch (const ClaimLost&) {
            result_.outcome = ImportedFile::Outcome::LostClaim;
            LogFailure("ImportFilesForFolder", Label("SLBSH0041", {{"[%FILE%]", name_}}) + kCrLf +
                                                    Label("KXL0002", {{"[%FILE%]", original_.string()}}));
            Report();
        } catch (...) {
            // A failure outside the documents (the file could not be deleted): logged, and the
            // claim stays recorded, so that a later run finishes the file.
            LogError(Source("ImportFilesForFolder"), Label("SLBSH0041", {{"[%FILE%]", name_}}));
            result_.outcome = ImportedFile::Outcome::PutBack;
            result_.message = CurrentError().description();
            Report();
        }
    }

  private:
    /// The documents of the file. Raises SetAside when the file as a whole cannot be taken.
    std::vector<Piece> Read() {
        switch (kind_) {
            case FileKind::Workbook: return ReadWorkbook();
            case FileKind::Obi: return ReadObi();
            default: return ReadXml();
        }
    }

    std::string ReadText(const char* step) {
        std::error_code ec;
        const uintmax_t size = fs::file_size(claimed_, ec);
        // A file is read whole; one that cannot hold a document the site takes (text may take
        // two bytes a character) is not read at all.
        const uint64_t largest = MaxDocumentSize();
        if (!ec && size > largest * 2 + 4) {
            const std::string message =
                Label("SLBSH1819", {{"[%FILE%]", name_}}) + kCrLf +
                Label("SLBSH1844", {{"[%SIZE%]", std::to_string(size)}, {"[%MAXSIZE%]", std::to_string(largest)}});
            LogFailure(step, message);
            throw SetAside{message};
        }
        try {
            return FileHandling().GetFileContentAsString(claimed_.string());
        } catch (...) {
            const std::string message = Label("SLBSH0018", {{"[%FILE%]", name_}});
            LogError(Source(step), message);
            throw SetAside{message};
        }
    }

    std::vector<Piece> ReadXml() {
        std::string text = ReadText("processXMLFile");
        // A file that ends with the delimiter has it removed wherever it stands.
        if (!delimiter_.empty()) {
            size_t end = text.size();
            while (end > 0 && static_cast<unsigned char>(text[end - 1]) <= 32) --end;
            if (end >= delimiter_.size() && text.compare(end - delimiter_.size(), delimiter_.size(), delimiter_) == 0)
                text = ReplaceAll(text, delimiter_, "");
        }
        xml::XmlDocument dom;
        // One document: processing takes the text as it was read.
        if (dom.LoadXml(text)) return {Piece{std::move(text)}};
        // Several documents one after the other: each child of a wrapper is one. A declaration
        // at the start of the file may not stand inside the wrapper.
        std::string body = text;
        if (body.starts_with("\xEF\xBB\xBF")) body.erase(0, 3);
        if (Trim(body).starts_with("<?xml")) {
            const size_t close = body.find("?>");
            if (close != std::string::npos) body.erase(0, close + 2);
        }
        xml::XmlDocument wrapped;
        if (!wrapped.LoadXml("<CustomTag>" + body + "</CustomTag>") ||
            wrapped.DocumentElement().ChildElements().empty()) {
            const std::string message = Label("SLBSH0017", {{"[%FILE%]", name_}});
            LogFailure("processXMLFile", message, dom.parseError().errorCode ? dom.parseError().errorCode : errnum::E_FAIL);
            throw SetAside{message};
        }
        std::vector<Piece> pieces;
        try {
            for (const xml::XmlNode& child : wrapped.DocumentElement().ChildElements()) {
                xml::XmlDocument one;
                if (!one.LoadXml(child.Xml())) throw one.parseError().ToError(Source("processXMLFile"));
                pieces.push_back(Piece{one.Xml()});
            }
        } catch (...) {
            const std::string message = Label("SLBSH0015", {{"[%FILE%]", name_}});
            LogError(Source("processXMLFile"), message);
            throw SetAside{message};
        }
        return pieces;
    }

    std::vector<Piece> ReadWorkbook() {
        if (!excelInstalled_) {
            const std::string message = Label("SLBSH0040");
            LogFailure("ImportFilesForFolder", message + kCrLf + Label("SLBSH0041", {{"[%FILE%]", name_}}),
                       ErrNum(EnumerationErrors::ExcelNotInstalled));
            throw SetAside{message};
        }
        // A workbook that has its documents recorded is not read again.
        if (claim_.done.count(0)) return {Piece{}};
        try {
            xml::XmlDocument dom;
            QelExcel excel;
            excel.TransformExcelToXML(claimed_.string(), dom);
            return {Piece{dom.Xml()}};
        } catch (...) {
            const std::string message = Label("SLBSH0041", {{"[%FILE%]", name_}});
            LogError(Source("ProcessExcelFile"), message);
            throw SetAside{message};
        }
    }

    std::vector<Piece> ReadObi() {
        if (claim_.done.count(0)) return {Piece{}};
        const std::string text = ReadText("ProcessObiFile");
        try {
            OBI obi;
            ByteArray version, signature;
            EObiLanguage language{};
            std::string xmlPart;
            obi.DeconstructObiObject(text, version, language, xmlPart, signature);
            obi.CheckObiVersionSupported(version, language);
            xml::XmlDocument dom = obi.XmlToDom(xmlPart);
            return {Piece{dom.Xml()}};
        } catch (...) {
            const std::string message = Label("SLBSH0041", {{"[%FILE%]", name_}});
            LogError(Source("ProcessObiFile"), message);
            throw SetAside{message};
        }
    }

    /// One document in one transaction, which also records it as done in its file.
    void ProcessOne(const Piece& piece, int32_t index, bool last) {
        DocumentProcessing processing;
        processing.SetOrigin(original_.string());
        processing.SetMetrics(run_.metrics);
        std::string originalType, originalRecipient, type, sender, defaultRecipient;
        int32_t docId = 0, senderBp = 0;
        int16_t status = 0;
        std::optional<db::Transaction> work;
        // The document's transaction, which renews the claim first.
        auto begin = [&] {
            try {
                work.emplace(CurrentConnectionString(), DatabaseBusyTimeoutMs());
                if (!import_claims::Renew(claim_, last)) throw ClaimLost{};
            } catch (const ClaimLost&) {
                throw;
            } catch (...) {
                throw DatabaseUnavailable{CurrentError().description()};
            }
        };
        begin();
        std::optional<Error> failure;
        try {
            processing.ProcessDocument(0, piece.xml, originalType, originalRecipient, docId, senderBp, type, sender,
                                       defaultRecipient, status, -1);
        } catch (...) {
            failure = CurrentError();
        }
        if (failure && failure->number() != ErrNum(EnumerationErrors::ProcessDocumentError)) {
            // Not a refusal of the document: the database is busy or went away, or something
            // failed around the document. Nothing of it stays.
            work->Rollback();
            processing.DropLeftItems();
            work.reset();
            if (failure->number() == errnum::DatabaseBusy || !DatabaseAnswers())
                throw DatabaseUnavailable{failure->description()};
            begin();
        }
        std::string copy;
        if (failure) {
            // The refused document is kept in the error folder before its record is committed:
            // a run that dies in between leaves a second copy, never none.
            try {
                throw *failure;
            } catch (...) {
                LogError(Source(kind_ == FileKind::Workbook ? "ProcessExcelFile" : "processXMLFile"),
                         Label(kind_ == FileKind::Workbook ? "SLBSH0032" : "SLBSH0003") + kCrLf + Label("SLBSH0002") +
                             ": '" + name_ + "'");
            }
            copy = KeepRefused(piece);
            result_.message = failure->description();
        }
        try {
            // The last document needs no record of its own: the claim marked finished in this
            // transaction says that every document of the file is done.
            if (!last) import_claims::RecordDocument(claim_, index, failure ? 0 : docId);
        } catch (...) {
            work->Rollback();
            processing.DropLeftItems();
            throw DatabaseUnavailable{CurrentError().description()};
        }
        try {
            work->Commit();
        } catch (...) {
            // A server that went away during the commit may have made it all the same: the
            // file stays claimed, and the run that takes it back finds what was recorded.
            commitUncertain_ = true;
            throw DatabaseUnavailable{CurrentError().description()};
        }
        work.reset();
        claim_.done.insert(index);
        // What the document's unit of work left to go out (deliveries, mails, the
        // administrator's mail about a refused hidden document) goes now.
        try {
            processing.WorkOffLeftItems();
        } catch (...) {
            LogError(Source("processXMLFile"));
        }
        if (failure) {
            ++result_.refused;
            ++run_.tally.documentsRefused;
            email::SendEmailToAdministrator(copy.empty() ? original_.string() : copy);
            return;
        }
        ++result_.stored;
        ++run_.tally.documentsStored;
    }

    /// Keeps a refused document in the error folder: the workbook itself, or the document's
    /// XML under the file's name. Answers the copy's path ("" when it could not be written,
    /// which is logged).
    std::string KeepRefused(const Piece& piece) {
        try {
            if (kind_ == FileKind::Workbook) return error_folder::CopyFileToErrorDir(claimed_);
            return error_folder::WriteXmlFileToErrorDir(piece.xml, name_);
        } catch (...) {
            LogError(Source("WriteNodeToFile"), Label("SLBSH0016"));
            return {};
        }
    }

    /// The file as a whole goes to the error folder; its record comes first, so that a run
    /// that dies before the move finishes it rather than reading the file again.
    void SetFileAside(const std::string& message) {
        result_.message = message;
        try {
            db::Transaction work(CurrentConnectionString(), DatabaseBusyTimeoutMs());
            if (!import_claims::Renew(claim_)) throw ClaimLost{};
            import_claims::RecordDocument(claim_, -1, 0);
            work.Commit();
        } catch (const ClaimLost&) {
            throw;
        } catch (...) {
            throw DatabaseUnavailable{CurrentError().description()};
        }
        ToErrorFolder(claimed_);
        ++run_.tally.documentsRefused;
        result_.outcome = ImportedFile::Outcome::SetAside;
        Finish(false);
    }

    /// Every document is done: the file is deleted (when it is still there) and its claim
    /// is dropped with those of the other files of the batch.
    void Finish(bool deleteFile) {
        if (deleteFile) {
            std::error_code ec;
            fs::remove(claimed_, ec);
            if (ec) throw services::FileSystemError(ec, Source("ImportFilesForFolder"), claimed_.string());
        }
        run_.finished.push_back(std::move(claim_));
        Report();
    }

    /// A database that cannot be used: a file none of whose documents is recorded gets its
    /// name back; one with documents recorded stays claimed for a later run to go on with.
    void PutBack(const std::string& reason) {
        result_.outcome = ImportedFile::Outcome::PutBack;
        result_.message = reason;
        run_.ended = true;
        ++run_.tally.filesPutBack;
        LogFailure("ImportFilesForFolder", Label("KXL0003", {{"[%FILE%]", original_.string()}}) + kCrLf + reason,
                   errnum::DatabaseBusy);
        if (claim_.done.empty() && !commitUncertain_) {
            try {
                if (import_claims::MoveWithoutReplacing(claimed_, original_)) DropClaim();
            } catch (...) {
                LogError(Source("ImportFilesForFolder"), claimed_.string());
            }
        }
        Report();
    }

    /// Drops the claim; a record left behind (the database went away) is dropped by the run
    /// that finds it without its file.
    void DropClaim() noexcept {
        try {
            import_claims::Drop(claim_);
        } catch (...) {
            LogError(Source("ImportFilesForFolder"), claimed_.string());
        }
    }

    void Report() noexcept {
        if (!run_.report) return;
        try {
            run_.report(result_);
        } catch (...) {
        }
    }

    RunState& run_;
    import_claims::Claim claim_;
    fs::path original_;
    fs::path claimed_;
    std::string name_;
    FileKind kind_;
    std::string delimiter_;
    bool excelInstalled_;
    /// A commit failed in a way that may have made it: the file must stay claimed.
    bool commitUncertain_ = false;
    ImportedFile result_;
};

/// The import folder of a parameter as a local path ("" when blank).
std::string FolderOf(const std::string& parameter) {
    const std::string value = Trim(GetParameter(parameter));
    if (value.empty()) return {};
    return fs::path(LocalFilePath(value)).lexically_normal().string();
}

/// The folder as the claims name it: without a trailing separator.
std::string FolderKey(const std::string& folder) {
    std::string key = fs::path(folder).lexically_normal().string();
    while (key.size() > 1 && key.back() == '/') key.pop_back();
    return key;
}

/// Drops the claims of the files that are done; a record left behind (the database went
/// away) is dropped by the run that finds it finished or without its file.
void DropFinished(RunState& run) noexcept {
    try {
        import_claims::Drop(run.finished);
    } catch (...) {
        LogError(Source("ImportFilesForFolder"));
    }
    run.finished.clear();
}

/// How many files are claimed at once: one transaction records the claims of a batch and one
/// drops them when their files are done.
constexpr size_t kClaimBatch = 16;

/// One pass over a folder: first the claims that their owners left, then the files.
void ImportFilesForFolder(RunState& run, const std::string& folder, const std::string& delimiter) {
    const std::string key = FolderKey(folder);
    const bool excelInstalled = files::IsExcelInstalled();
    for (import_claims::Claim& claim : import_claims::TakeBack(key, ClaimLeaseSeconds())) {
        std::error_code ec;
        if (claim.finished || !fs::exists(claim.filePath, ec)) {
            // Every document done, or recorded but never renamed: nothing to go on with.
            fs::remove(claim.filePath, ec);
            run.finished.push_back(std::move(claim));
            continue;
        }
        if (run.StopAsked()) break;
        std::string name = fs::path(claim.filePath).filename().string();
        if (name.starts_with('~')) name.erase(0, 1);
        FileImport(run, std::move(claim), key, name, delimiter, excelInstalled).Run();
    }
    DropFinished(run);
    if (run.StopAsked()) return;

    std::vector<fs::path> files;
    try {
        files = FileHandling().GetFilesInFolder(folder);
    } catch (...) {
        LogError(Source("ImportFilesForFolder"), Label("SLBSH0014", {{"[%FOLDERNAME%]", folder}}));
        return;
    }
    std::vector<std::string> names;
    for (const fs::path& file : files) {
        std::string name = file.filename().string();
        if (!NeverTaken(name) && KindOf(name) != FileKind::None) names.push_back(std::move(name));
    }
    // Each worker of a spread begins at its own share of the listing.
    if (run.workers > 1 && !names.empty())
        std::rotate(names.begin(), names.begin() + static_cast<std::ptrdiff_t>((names.size() * run.worker) / run.workers),
                    names.end());
    for (size_t from = 0; from < names.size() && !run.StopAsked(); from += kClaimBatch) {
        const std::vector<std::string> batch(names.begin() + static_cast<std::ptrdiff_t>(from),
                                             names.begin() + static_cast<std::ptrdiff_t>(std::min(names.size(), from + kClaimBatch)));
        std::vector<std::string> claimedPaths;
        for (const std::string& name : batch) claimedPaths.push_back((fs::path(key) / ("~" + name)).string());
        std::vector<std::optional<import_claims::Claim>> claims;
        try {
            claims = import_claims::Record(key, claimedPaths);
        } catch (...) {
            LogError(Source("ImportFilesForFolder"),
                     Label("KXL0003", {{"[%FILE%]", (fs::path(key) / batch.front()).string()}}));
            ++run.tally.filesPutBack;
            run.ended = true;
            return;
        }
        // The renames that claim the files; a file another run took (or that went away) has
        // its record dropped again.
        std::vector<size_t> taken;
        for (size_t i = 0; i < batch.size(); ++i) {
            if (!claims[i]) continue;  // another run holds it
            bool moved = false;
            try {
                moved = import_claims::MoveWithoutReplacing(fs::path(key) / batch[i], claimedPaths[i]);
            } catch (...) {
                LogError(Source("ImportFilesForFolder"), Label("SLBSH0041", {{"[%FILE%]", batch[i]}}));
            }
            if (moved)
                taken.push_back(i);
            else
                run.finished.push_back(std::move(*claims[i]));
        }
        for (size_t i : taken) {
            if (run.StopAsked()) {
                // Claimed but not begun: the file gets its name back for the next run.
                try {
                    if (import_claims::MoveWithoutReplacing(claimedPaths[i], fs::path(key) / batch[i]))
                        run.finished.push_back(std::move(*claims[i]));
                } catch (...) {
                    LogError(Source("ImportFilesForFolder"), claimedPaths[i]);
                }
                continue;
            }
            FileImport(run, std::move(*claims[i]), key, batch[i], delimiter, excelInstalled).Run();
        }
        DropFinished(run);
    }
}

/// The folder of a parameter, created with its parents when missing; the failure names the
/// parameter.
std::string PrepareFolder(const std::string& parameter) {
    const std::string folder = FolderOf(parameter);
    if (folder.empty()) return {};
    FileHandling files;
    if (!files.FolderExists(folder)) files.CreateFolderTree(folder);
    return folder;
}

void StartImports(RunState& run, const std::string& delimiter) {
    bool obiEnabled = false;
    try {
        obiEnabled = OBI().IsOBIEnabled();
    } catch (...) {
        LogError(Source("startImports"), Label("SLBSH0011"));
    }
    std::vector<std::string> parameters = {"XMLErrorPath", "XMLPath1", "XMLPath2"};
    if (obiEnabled) parameters.push_back("ObiPath");
    std::vector<std::pair<std::string, std::string>> folders;
    for (const std::string& parameter : parameters) {
        try {
            const std::string folder = PrepareFolder(parameter);
            if (parameter != "XMLErrorPath" && !folder.empty()) folders.emplace_back(parameter, folder);
        } catch (...) {
            LogError(Source("startRun"), Label("SLBSH0034", {{"[%PARAM%]", parameter}}));
            return;
        }
    }
    for (const auto& [parameter, folder] : folders) {
        if (run.StopAsked()) return;
        try {
            ImportFilesForFolder(run, folder, delimiter);
        } catch (...) {
            LogError(Source("startImports"), Label("SLBSH0034", {{"[%PARAM%]", parameter}}));
            return;
        }
    }
}

}  // namespace

void DocumentImport::SetSpread(size_t worker, size_t workers) {
    workers_.store(workers == 0 ? 1 : workers);
    worker_.store(workers == 0 ? 0 : worker % workers);
}

void DocumentImport::SetFileReport(std::function<void(const ImportedFile&)> report) {
    std::lock_guard lock(mutex_);
    report_ = std::move(report);
}

ImportTally DocumentImport::LastTally() const {
    std::lock_guard lock(mutex_);
    return last_;
}

void DocumentImport::Run() {
    RunState run;
    run.stop = stop_.load();
    run.metrics = metrics_.load();
    run.worker = worker_.load();
    run.workers = workers_.load();
    {
        std::lock_guard lock(mutex_);
        run.report = report_;
    }
    try {
        // The site identifier (site configuration GLOBAL "IISVirtId") and the delimiter
        // must be set before anything is touched.
        std::string site;
        try {
            site = Trim(SiteSetting("GLOBAL", "IISVirtId"));
        } catch (...) {
            LogError(Source("getIISVirtID"));
        }
        if (site.empty()) {
            LogFailure("startRun", Label("SLBSH0009"));
        } else {
            const std::string delimiter = GetParameter("EDIDelimiter");
            if (delimiter.empty())
                LogFailure("startRun", Label("SLBSH0010"));
            else
                StartImports(run, delimiter);
        }
    } catch (...) {
        LogError(Source("startRun"), Label("SLBSH0011"));
    }
    std::lock_guard lock(mutex_);
    last_ = run.tally;
}

std::vector<std::pair<std::string, std::string>> ImportFolders() {
    std::vector<std::string> parameters = {"XMLPath1", "XMLPath2"};
    if (OBI().IsOBIEnabled()) parameters.push_back("ObiPath");
    std::vector<std::pair<std::string, std::string>> folders;
    for (const std::string& parameter : parameters)
        if (std::string folder = FolderOf(parameter); !folder.empty()) folders.emplace_back(parameter, folder);
    return folders;
}

ImportBacklog CountImportBacklog() {
    try {
        ImportBacklog backlog;
        for (const auto& [parameter, folder] : ImportFolders()) {
            std::error_code ec;
            if (!fs::is_directory(folder, ec)) continue;
            for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
                std::error_code kind;
                if (!it->is_regular_file(kind)) continue;
                const std::string name = it->path().filename().string();
                if (name.starts_with('~'))
                    ++backlog.claimed;
                else if (!NeverTaken(name) && KindOf(name) != FileKind::None)
                    ++backlog.waiting;
            }
        }
        return backlog;
    } catch (...) {
        Reraise("Kestrix.DocumentImport.CountImportBacklog");
    }
}

}  // namespace kestrix
