// Checks the files a disc folder gives the menu, as the menu will use them:
//   check_disc_content [--allow-mismatch] DISC_FOLDER
// Each file the menu opens from its own folder, found in any case as Windows
// finds it, is read as disc_content_rules.h describes; the splash picture goes
// through the menu's own bitmap reader, built for this machine over the native
// Win32 stand-in. A file that is absent is not this tool's business. Prints
// one line per finding, "refused: ..." or "warning: ...", and exits 1 when
// something is refused, 0 otherwise, 2 when it cannot check. With
// --allow-mismatch a refusal is printed as a warning and does not fail.
#include "disc_content_rules.h"

#include "splash/dib_reader.h"
#include "splash/splash_size.h"
#include "win32_shim.h"

#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace {

// A file's bytes, mapped read-only: a setup program may be large, and only
// its headers and export table are read.
class MappedFile {
  public:
    explicit MappedFile(const std::string& path)
    {
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return;
        struct stat status;
        if (fstat(fd, &status) == 0) {
            size_ = size_t(status.st_size);
            ok_ = true;
            if (size_) {
                void* mapped = mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
                if (mapped == MAP_FAILED)
                    ok_ = false;
                else
                    data_ = static_cast<const uint8_t*>(mapped);
            }
        }
        close(fd);
    }
    ~MappedFile()
    {
        if (data_) munmap(const_cast<uint8_t*>(data_), size_);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    bool Ok() const
    {
        return ok_;
    }
    const uint8_t* Data() const
    {
        return data_ ? data_ : reinterpret_cast<const uint8_t*>("");
    }
    size_t Size() const
    {
        return size_;
    }

  private:
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    bool ok_ = false;
};

// The picture as the menu reads it (the corner it draws): whether the reader
// takes it, and the picture's own size, from its header.
std::vector<Finding> CheckPicture(const MenuFile& file, const std::string& name, const std::string& path,
                                  const MappedFile& bytes)
{
    int32_t width = 0, height = 0;
    bool read = false;
    if (HGLOBAL corner = LoadDibFile(path.c_str(), SplashWidth, SplashHeight)) {
        GlobalFree(corner);
        OFSTRUCT scratch;
        const HFILE opened = OpenFile(path.c_str(), &scratch, OF_READ);
        HGLOBAL header = opened == HFILE_ERROR ? nullptr : ReadDibHeader(opened);
        if (opened != HFILE_ERROR) _lclose(opened);
        if (header) {
            if (const auto* info = static_cast<const BITMAPINFOHEADER*>(GlobalLock(header))) {
                width = info->biWidth;
                height = info->biHeight;
                read = true;
                GlobalUnlock(header);
            }
            GlobalFree(header);
        }
    }
    return CheckPictureFile(file, name, read, width, height, bytes.Data(), bytes.Size());
}

} // namespace

int main(int argc, char** argv)
{
    const bool allowMismatch = argc > 1 && strcmp(argv[1], "--allow-mismatch") == 0;
    if (argc != 2 + allowMismatch) {
        fprintf(stderr, "usage: check_disc_content [--allow-mismatch] DISC_FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1 + allowMismatch];
    // The stand-in marks new memory for tests; a header that asks for a large
    // block would have it filled here for nothing.
    ShimSetFillPattern(false);

    std::error_code error;
    std::vector<std::filesystem::directory_entry> entries;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        entries.push_back(entry);
    if (error) {
        fprintf(stderr, "cannot read the disc folder %s: %s\n", folder.c_str(), error.message().c_str());
        return 2;
    }

    std::vector<std::string> discFiles;
    for (const auto& entry : entries)
        if (entry.is_regular_file(error)) discFiles.push_back(entry.path().filename().string());

    bool refused = false;
    for (const MenuFile& file : MenuFiles) {
        for (const auto& entry : entries) {
            const std::string name = entry.path().filename().string();
            if (strcasecmp(name.c_str(), file.name) != 0 || !entry.is_regular_file(error)) continue;
            const std::string path = entry.path().string();
            const MappedFile bytes(path);
            if (!bytes.Ok()) {
                fprintf(stderr, "cannot read %s\n", path.c_str());
                return 2;
            }
            std::vector<Finding> findings;
            switch (file.role) {
            case MenuFileRole::Library:
                findings = CheckLibraryFile(file, name, bytes.Data(), bytes.Size(), discFiles);
                break;
            case MenuFileRole::Program:
            case MenuFileRole::Registrar:
                findings = CheckProgramFile(file, name, bytes.Data(), bytes.Size());
                break;
            case MenuFileRole::Picture: findings = CheckPicture(file, name, path, bytes); break;
            }
            for (const Finding& finding : findings) {
                const bool refusal = finding.refused && !allowMismatch;
                printf("%s: %s\n", refusal ? "refused" : "warning", finding.text.c_str());
                refused |= refusal;
            }
        }
    }
    return refused ? 1 : 0;
}
