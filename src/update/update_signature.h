// The publisher check of a downloaded package: a detached CMS signature in
// DER, verified against the update certificate authority alone, written as a
// short report over which two searches decide.
#pragma once

#include <string>
#include <string_view>

namespace vm {

// The signer text the report must show.
inline constexpr const char* kUpdateSigner = "CN=tessel";

// The address of url's signature: ".p7s" appended to its path, before any
// query or fragment ("https://h/p.deb?x=1" -> "https://h/p.deb.p7s?x=1").
std::string signatureUrl(const std::string& url);

// "Status : Valid" and "SignerCertificate : " with the signer's subject in
// OpenSSL's one-line form ("/CN=tessel/O=...") when signatureDer is a
// detached CMS signature of the file's bytes by exactly one signer whose
// certificate chains to a certificate of caFile (the only trust anchor) and
// is meant for code signing. Otherwise the status names the reason and no
// subject is shown, so that nothing of an untrusted certificate reaches the
// text that is searched.
std::string signatureReport(const std::string& packagePath, std::string_view signatureDer,
                            const std::string& caFile);

// The two searches over a report (case-insensitive, multi-line, "." matching
// line breaks): "Status\s*:\s*Valid", then signerText as a pattern. Logs why
// a file is refused.
bool reportShowsValidSigner(const std::string& report, const std::string& filePath,
                            const std::string& signerText);

// reportShowsValidSigner over the report of filePath and its signature.
bool verifySignature(const std::string& filePath, const std::string& signerText,
                     std::string_view signatureDer, const std::string& caFile);

}  // namespace vm
