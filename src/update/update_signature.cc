#include "update/update_signature.h"

#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <climits>
#include <memory>

#include "base/log.h"
#include "base/regex.h"
#include "platform/file.h"

namespace vm {

namespace {

struct BioFree {
  void operator()(BIO* b) const { BIO_free(b); }
};
struct CmsFree {
  void operator()(CMS_ContentInfo* c) const { CMS_ContentInfo_free(c); }
};
struct StoreFree {
  void operator()(X509_STORE* s) const { X509_STORE_free(s); }
};
struct CertStackFree {
  // The stack of CMS_get0_signers holds references it does not own.
  void operator()(STACK_OF(X509) * s) const { sk_X509_free(s); }
};
struct OpenSslStringFree {
  void operator()(char* p) const { OPENSSL_free(p); }
};
using BioHandle = std::unique_ptr<BIO, BioFree>;
using CmsHandle = std::unique_ptr<CMS_ContentInfo, CmsFree>;
using StoreHandle = std::unique_ptr<X509_STORE, StoreFree>;
using CertStackHandle = std::unique_ptr<STACK_OF(X509), CertStackFree>;
using OpenSslString = std::unique_ptr<char, OpenSslStringFree>;

// Clears OpenSSL's error queue of this thread whichever way the check ends.
struct ErrorQueueScope {
  ~ErrorQueueScope() { ERR_clear_error(); }
};

// None of these starts with "Valid", so no reason can pass the status search.
constexpr const char* kNotSigned = "NotSigned";
constexpr const char* kNotTrusted = "NotTrusted";
constexpr const char* kHashMismatch = "HashMismatch";
constexpr const char* kNotForCodeSigning = "NotCodeSigning";
constexpr const char* kUnreadable = "UnknownError";

std::string report(const std::string& status, const std::string& signer = {}) {
  return "Status : " + status + "\r\nSignerCertificate : " + signer + "\r\n";
}

// Every certificate of the file is a trust anchor, an intermediate one too,
// and nothing else is: the system's store is never loaded. The purpose is
// left open here because the code-signing usage is checked on the signer.
StoreHandle updateAuthorityStore(const std::string& caFile) {
  StoreHandle store(X509_STORE_new());
  if (!store || caFile.empty() || X509_STORE_load_file(store.get(), caFile.c_str()) != 1)
    return nullptr;
  X509_STORE_set_flags(store.get(), X509_V_FLAG_PARTIAL_CHAIN);
  X509_STORE_set_purpose(store.get(), X509_PURPOSE_ANY);
  return store;
}

bool meantForCodeSigning(X509* cert) {
  const uint32_t flags = X509_get_extension_flags(cert);
  if ((flags & EXFLAG_XKUSAGE) == 0 || (X509_get_extended_key_usage(cert) & XKU_CODE_SIGN) == 0)
    return false;
  return (flags & EXFLAG_KUSAGE) == 0 || (X509_get_key_usage(cert) & KU_DIGITAL_SIGNATURE) != 0;
}

const char* reasonOfFailedVerification() {
  switch (ERR_GET_REASON(ERR_peek_last_error())) {
    case CMS_R_CERTIFICATE_VERIFY_ERROR:
      return kNotTrusted;
    case CMS_R_CONTENT_VERIFY_ERROR:
    case CMS_R_VERIFICATION_FAILURE:
      return kHashMismatch;
    default:
      return kNotSigned;
  }
}

std::string subjectOf(X509* cert) {
  OpenSslString subject(X509_NAME_oneline(X509_get_subject_name(cert), nullptr, 0));
  return subject ? subject.get() : std::string();
}

bool matchesAnywhere(const std::string& text, const std::string& pattern) {
  const Regex regex(pattern, kRegexCaseless | kRegexMultiLine | kRegexDotAll);
  if (!regex.valid()) {
    writeLog("ERROR: Invalid RegEx " + pattern);
    return false;
  }
  return regex.find(text, 0).status == RegexStatus::Match;
}

}  // namespace

std::string signatureUrl(const std::string& url) {
  const std::size_t pathEnd = url.find_first_of("?#");
  if (pathEnd == std::string::npos) return url + ".p7s";
  return url.substr(0, pathEnd) + ".p7s" + url.substr(pathEnd);
}

std::string signatureReport(const std::string& packagePath, std::string_view signatureDer,
                            const std::string& caFile) {
  ErrorQueueScope clearErrors;
  if (signatureDer.empty() || signatureDer.size() > INT_MAX) return report(kNotSigned);
  BioHandle signatureBio(
      BIO_new_mem_buf(signatureDer.data(), static_cast<int>(signatureDer.size())));
  CmsHandle cms(signatureBio ? d2i_CMS_bio(signatureBio.get(), nullptr) : nullptr);
  if (!cms || OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed ||
      sk_CMS_SignerInfo_num(CMS_get0_SignerInfos(cms.get())) != 1)
    return report(kNotSigned);

  StoreHandle store = updateAuthorityStore(caFile);
  Result<FileDescriptor> package = openFile(packagePath, O_RDONLY | O_NOFOLLOW);
  if (!store || !package) return report(kUnreadable);
  BioHandle content(BIO_new_fd(package->get(), BIO_NOCLOSE));
  if (!content) return report(kUnreadable);

  if (CMS_verify(cms.get(), nullptr, store.get(), content.get(), nullptr, CMS_BINARY) != 1)
    return report(reasonOfFailedVerification());
  CertStackHandle signers(CMS_get0_signers(cms.get()));
  if (!signers || sk_X509_num(signers.get()) != 1) return report(kNotSigned);
  X509* signer = sk_X509_value(signers.get(), 0);
  if (!meantForCodeSigning(signer)) return report(kNotForCodeSigning);
  return report("Valid", subjectOf(signer));
}

bool reportShowsValidSigner(const std::string& report, const std::string& filePath,
                            const std::string& signerText) {
  if (!matchesAnywhere(report, "Status\\s*:\\s*Valid")) {
    writeLog("File signature invalid of file not signed! [" + filePath + "]");
    return false;
  }
  if (!matchesAnywhere(report, signerText)) {
    writeLog("File signature not containing correct signer! [" + filePath + "]");
    return false;
  }
  return true;
}

bool verifySignature(const std::string& filePath, const std::string& signerText,
                     std::string_view signatureDer, const std::string& caFile) {
  return reportShowsValidSigner(signatureReport(filePath, signatureDer, caFile), filePath,
                                signerText);
}

}  // namespace vm
