// Uploads one file with the FTP client and prints the seconds it took, for
// ftp_upload_bench.sh, which times curl on the same server for comparison.
// Usage: tessaly-bench-ftp_upload HOST[:PORT] USER LOCAL_FILE REMOTE_NAME
// The password comes from the environment variable TESSALY_FTP_PASSWORD, never the arguments;
// for an ftpes:// host with a self-signed certificate, TESSALY_FTP_FINGERPRINT pins it.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "transfer/ftp/ftp_client.h"

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s HOST[:PORT] USER LOCAL_FILE REMOTE_NAME (password in TESSALY_FTP_PASSWORD)\n",
                     argv[0]);
        return 2;
    }
    const char* password = std::getenv("TESSALY_FTP_PASSWORD");
    try {
        ts::FtpClient client;
        client.setHost(argv[1]);
        client.setUserName(argv[2]);
        client.setPassword(password ? password : "");
        if (const char* pin = std::getenv("TESSALY_FTP_FINGERPRINT")) client.setTrustedFingerprint(pin);
        const auto start = std::chrono::steady_clock::now();
        client.connect();
        client.store(argv[3], argv[4]);
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        std::printf("%.3f\n", elapsed.count());
        return client.lastDataMode() == ts::FtpDataMode::Active ? 0 : 3;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "upload failed: %s\n", error.what());
        return 1;
    }
}
