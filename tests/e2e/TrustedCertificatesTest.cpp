// Trusted certificates of the user's own, named by SSL_CERT_FILE and SSL_CERT_DIR, against the
// real binary and an nginx on loopback whose certificate the test CA signed. The CA is in no
// system store, so a download succeeds only when the named certificates are the ones trusted; a
// file or folder that cannot be read is reported as such, and never passed over for the system's
// store. The system's store itself is tested where https is (SpineTest).

#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "support/ConsoleTexts.h"
#include "support/NginxServer.h"
#include "support/Process.h"
#include "support/ScriptedServer.h"

namespace korrin::test {
namespace {

const std::string tlsData = std::string(KORRIN_TEST_DATA) + "/tls/";
const std::string body = "trusted by the user's own CA\n";

std::string Failed(const std::string& text) {
    return consoleStart + "Error retrieving file: " + text + "\n" + pause;
}

const std::string cannotLoad = Failed("The trusted certificates could not be loaded.");
const std::string untrusted =
    Failed("The server's certificate is not signed by a trusted authority.");

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The name under which OpenSSL looks for the certificate in pemPath inside a folder: the hash of
// its subject, then ".0" (what c_rehash names it).
std::string HashedName(const std::string& pemPath) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(pemPath.c_str(), "r"),
                                                         &std::fclose);
    if (!file) throw std::runtime_error("cannot open " + pemPath);
    std::unique_ptr<X509, void (*)(X509*)> certificate(
        PEM_read_X509(file.get(), nullptr, nullptr, nullptr), &X509_free);
    if (!certificate) throw std::runtime_error("no certificate in " + pemPath);
    char name[16];
    std::snprintf(name, sizeof name, "%08lx.0", X509_subject_name_hash(certificate.get()));
    return name;
}

enum class Route { https, plainHttp, redirectToHttps };

struct TrustCase {
    const char* name;
    Route route;
    std::vector<std::string> environment;  // with {hashed}, {empty} and {data} to fill in
    std::string failure;                   // the exact console text; empty for a success
};

void PrintTo(const TrustCase& c, std::ostream* out) { *out << c.name; }

std::vector<TrustCase> TrustCases() {
    return {
        {"FileOfTheCa", Route::https, {"SSL_CERT_FILE={data}ca.pem"}, ""},
        {"FolderOfHashedNames", Route::https, {"SSL_CERT_DIR={hashed}"}, ""},
        {"ListOfFoldersTheCaInTheSecond", Route::https, {"SSL_CERT_DIR={empty}:{hashed}"}, ""},
        // With both set, the certificates of both are trusted.
        {"BothTheCaInTheFolder",
         Route::https,
         {"SSL_CERT_FILE={data}selfsigned.pem", "SSL_CERT_DIR={hashed}"},
         ""},
        {"BothTheCaInTheFile",
         Route::https,
         {"SSL_CERT_FILE={data}ca.pem", "SSL_CERT_DIR={empty}"},
         ""},
        {"RedirectToHttpsTrustsTheFolder", Route::redirectToHttps, {"SSL_CERT_DIR={hashed}"}, ""},
        // Plain http needs no certificate: a broken setting does not stop it.
        {"PlainHttpWithAMissingFile", Route::plainHttp, {"SSL_CERT_FILE={empty}/none.pem"}, ""},
        {"FolderWithoutTheCa", Route::https, {"SSL_CERT_DIR={empty}"}, untrusted},
        {"FileWithoutTheCa", Route::https, {"SSL_CERT_FILE={data}selfsigned.pem"}, untrusted},
        // An empty value is no value: the system's store, which lacks the test CA.
        {"EmptyValuesAreUnset", Route::https, {"SSL_CERT_FILE=", "SSL_CERT_DIR="}, untrusted},
        {"MissingFile", Route::https, {"SSL_CERT_FILE={empty}/none.pem"}, cannotLoad},
        {"FileWithNoCertificate",
         Route::https,
         {"SSL_CERT_FILE={data}make-certificates"},
         cannotLoad},
        {"FileThatIsAFolder", Route::https, {"SSL_CERT_FILE={hashed}"}, cannotLoad},
        {"MissingFolder", Route::https, {"SSL_CERT_DIR={empty}/none"}, cannotLoad},
        {"MissingFolderInAList", Route::https, {"SSL_CERT_DIR={hashed}:{empty}/none"}, cannotLoad},
        {"FolderThatIsAFile", Route::https, {"SSL_CERT_DIR={data}ca.pem"}, cannotLoad},
        // An empty element of the list is skipped, and the folders behind it still count.
        {"MissingFolderAfterAnEmptyFirstElement",
         Route::https,
         {"SSL_CERT_DIR=:{empty}/none"},
         cannotLoad},
        {"MissingFolderAfterAnEmptyElement",
         Route::https,
         {"SSL_CERT_DIR={hashed}::{empty}/none"},
         cannotLoad},
        {"TheCaFolderAfterAnEmptyElement", Route::https, {"SSL_CERT_DIR=::{hashed}"}, ""},
        {"MissingFolderBesideAGoodFile",
         Route::https,
         {"SSL_CERT_FILE={data}ca.pem", "SSL_CERT_DIR={empty}/none"},
         cannotLoad},
        {"MissingFolderAfterARedirectToHttps",
         Route::redirectToHttps,
         {"SSL_CERT_DIR={empty}/none"},
         cannotLoad},
    };
}

std::string Fill(std::string text, const std::string& field, const std::string& value) {
    for (auto at = text.find(field); at != std::string::npos; at = text.find(field, at)) {
        text.replace(at, field.size(), value);
        at += value.size();
    }
    return text;
}

class TrustedCertificates : public ::testing::TestWithParam<TrustCase> {};

TEST_P(TrustedCertificates, NamedByTheEnvironment) {
    const TrustCase& c = GetParam();
    NginxServer nginx(NginxServer::TlsConfig("valid"));
    WriteFile(nginx.Root() + "/file.txt", body);
    ScriptedServer plain(ScriptedServer::Reply(HttpReply(200, body)));
    ScriptedServer redirect(
        ScriptedServer::Reply(HttpReply(302, "", "Location: " + nginx.Url("/file.txt") + "\r\n")));

    TempDir certificates;
    const std::string hashed = certificates.File("hashed");
    const std::string empty = certificates.File("empty");
    mkdir(hashed.c_str(), 0755);
    mkdir(empty.c_str(), 0755);
    WriteFile(hashed + "/" + HashedName(tlsData + "ca.pem"), ReadFile(tlsData + "ca.pem"));
    ProcessOptions options;
    for (const std::string& entry : c.environment) {
        options.environment.push_back(
            Fill(Fill(Fill(entry, "{hashed}", hashed), "{empty}", empty), "{data}", tlsData));
    }
    const std::string url = c.route == Route::https       ? nginx.Url("/file.txt")
                            : c.route == Route::plainHttp ? plain.Url("/file.txt")
                                                          : redirect.Url("/file.txt");

    TempDir folder;
    const std::string path = folder.File("out.txt");
    const ProcessResult toFile = RunKorrinBinary({url, "-o", path}, options);
    EXPECT_FALSE(toFile.timedOut);
    EXPECT_EQ(toFile.standardError, "");
    if (c.failure.empty()) {
        EXPECT_EQ(toFile.exitStatus, 0) << toFile.standardOutput;
        EXPECT_EQ(toFile.standardOutput.rfind(consoleStart, 0), 0u) << toFile.standardOutput;
        EXPECT_TRUE(EndsWith(toFile.standardOutput, retrievedOk)) << toFile.standardOutput;
        EXPECT_EQ(ReadFile(path), body);
    } else {
        EXPECT_EQ(toFile.exitStatus, 1);
        EXPECT_EQ(toFile.standardOutput, c.failure);
        EXPECT_FALSE(FileExists(path));
    }

    const ProcessResult toStdout = RunKorrinBinary({url}, options);
    EXPECT_EQ(toStdout.exitStatus, c.failure.empty() ? 0 : 1);
    EXPECT_EQ(toStdout.standardOutput, c.failure.empty() ? body : "");
    EXPECT_EQ(toStdout.standardError, "");
}

INSTANTIATE_TEST_SUITE_P(Table, TrustedCertificates, ::testing::ValuesIn(TrustCases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace korrin::test
