// Test infrastructure: runs the openssl command through a shell script.
#include "tests/support/test_certs.h"

#include <chrono>
#include <filesystem>

#include "tests/support/real_peers.h"
#include "tests/support/test_files.h"

namespace torvane::test {
namespace {

// P-256 keys: quick to make, and every TLS 1.2/1.3 stack takes them. Leaf
// certificates come from "openssl ca", the one way this openssl has to set
// a validity period in the past. Each CA keeps its own database.
constexpr const char* kScript = R"(set -e
K="-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
ca() {  # ca NAME: a CA certificate and key, and a database for its signing
  openssl req -x509 $K -keyout $1.key -out $1.crt -days 30 -subj "/CN=Torvane $1 test CA"
  mkdir -p $1.db; : > $1.db/index.txt; echo 01 > $1.db/serial
  printf '[ca]\ndefault_ca=c\n[c]\ndatabase=%s\nserial=%s\nnew_certs_dir=%s\n' \
    $1.db/index.txt $1.db/serial $1.db > $1.cnf
  printf 'default_md=sha256\npolicy=p\ncopy_extensions=copy\nunique_subject=no\n' >> $1.cnf
  printf '[p]\ncommonName=supplied\n' >> $1.cnf
}
leaf() {  # leaf NAME CA HOST ALT DATES...: a server certificate signed by CA
  name=$1 issuer=$2 host=$3 alt=$4; shift 4
  openssl req -new $K -keyout $name.key -out $name.csr -subj "/CN=$host" \
    -addext "subjectAltName=$alt" -addext "basicConstraints=CA:FALSE"
  openssl ca -batch -notext -config $issuer.cnf -cert $issuer.crt -keyfile $issuer.key \
    -in $name.csr -out $name.crt "$@"
}
ca ca
ca other
leaf good ca 127.0.0.1 "IP:127.0.0.1,DNS:localhost" -days 30
leaf wronghost ca wrong.example "DNS:wrong.example" -days 30
leaf expired ca 127.0.0.1 "IP:127.0.0.1,DNS:localhost" \
  -startdate 20200101000000Z -enddate 20200102000000Z
leaf unknownca other 127.0.0.1 "IP:127.0.0.1,DNS:localhost" -days 30
)";

}  // namespace

std::string TestCerts::program() {
  return RealPeer::program("openssl");
}

std::string TestCerts::name(Kind kind) {
  static const char* const kNames[] = {"good", "wronghost", "expired", "unknownca"};
  return kNames[kind];
}

TestCerts::TestCerts(const std::string& dir) : dir_(dir) {
  const std::string log = dir + "/openssl.log", script = dir + "/make_certs.sh";
  if (program().empty()) {
    error_ = "openssl is not installed";
    return;
  }
  std::error_code made;
  std::filesystem::create_directories(dir, made);
  if (!write_file(script, "cd '" + dir + "'\n" + kScript)) {
    error_ = "cannot write " + script;
    return;
  }
  ChildProcess sh({"/bin/sh", script}, log);
  ok_ = sh.wait_exit(std::chrono::seconds(30)) == 0;
  if (!ok_) error_ = read_file(log).value_or("no log at " + log);
}

}  // namespace torvane::test
