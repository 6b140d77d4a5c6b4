// Replays saved inputs through a fuzz target, so that every input in the corpus
// runs as an ordinary regression test with any compiler. Arguments are files or
// folders (every file inside, in name order). The targets' own printing goes
// to /dev/null: only a crash or a sanitizer report fails the run.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<std::filesystem::path> inputs_of(const char* arg) {
    std::vector<std::filesystem::path> files;
    std::filesystem::path p(arg);
    if (std::filesystem::is_directory(p)) {
        for (const auto& e : std::filesystem::directory_iterator(p))
            if (e.is_regular_file()) files.push_back(e.path());
        std::sort(files.begin(), files.end());
    } else {
        files.push_back(p);
    }
    return files;
}

void silence_stdout() {
    std::fflush(stdout);
    int null_fd = open("/dev/null", O_WRONLY);  // -1 on failure: then keep printing
    if (null_fd >= 0) {
        dup2(null_fd, 1);
        close(null_fd);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i) {
        auto more = inputs_of(argv[i]);
        files.insert(files.end(), more.begin(), more.end());
    }
    int saved_stdout = dup(1);
    silence_stdout();
    for (const auto& f : files) {
        std::ifstream in(f, std::ios::binary);
        std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(data.data(), data.size());
    }
    if (saved_stdout >= 0) dup2(saved_stdout, 1);
    std::printf("replayed %zu inputs\n", files.size());
    return 0;
}
