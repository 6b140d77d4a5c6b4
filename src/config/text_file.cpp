#include "config/text_file.h"

#include <sys/stat.h>

std::FILE* open_text_file(const char* path) {
    std::FILE* file = std::fopen(path, "r");
    if (file == nullptr) return nullptr;
    struct stat info {};
    // fstat: 0 on success, -1 with errno
    if (fstat(fileno(file), &info) != 0 || S_ISDIR(info.st_mode)) {
        std::fclose(file);
        return nullptr;
    }
    return file;
}

piece_status read_text_piece(std::FILE* file, char* buffer, int size) {
    int length = 0;
    while (length < size - 1) {
        int c = std::getc(file);
        if (c == EOF) break;
        if (c == '\r') {
            const int next = std::getc(file);
            if (next == '\n')
                c = '\n';
            else if (next != EOF)
                std::ungetc(next, file);
        }
        buffer[length++] = char(c);
        if (c == '\n') break;
    }
    buffer[length] = '\0';
    if (std::ferror(file)) return piece_status::error;
    return length > 0 ? piece_status::line : piece_status::end;
}
