// Test-only: makes the test Wine prefix trust the download host's test CA by
// adding it to the machine's "Root" system store of that prefix. Nothing
// outside the prefix (which lives in the build folder) changes.
//   trust_test_ca CA-CERTIFICATE.der
// Not sorted: wincrypt.h needs the types of windows.h before it.
// clang-format off
#include <windows.h>
#include <wincrypt.h>
// clang-format on

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: trust_test_ca CA-CERTIFICATE.der\n");
        return 2;
    }
    FILE* file = std::fopen(argv[1], "rb");
    if (file == nullptr) {
        std::fprintf(stderr, "trust_test_ca: cannot open %s\n", argv[1]);
        return 1;
    }
    std::vector<BYTE> der(16384);
    const size_t length = std::fread(der.data(), 1, der.size(), file);
    std::fclose(file);
    HCERTSTORE store =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (store == nullptr) {
        std::fprintf(stderr, "trust_test_ca: cannot open the Root store (%lu)\n", GetLastError());
        return 1;
    }
    const BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                                        static_cast<DWORD>(length),
                                                        CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    const DWORD error = GetLastError();
    CertCloseStore(store, 0);
    if (!added) {
        std::fprintf(stderr, "trust_test_ca: cannot add the CA (%lu)\n", error);
        return 1;
    }
    std::printf("trust_test_ca: the prefix trusts %s\n", argv[1]);
    return 0;
}
