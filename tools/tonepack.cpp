// tonepack: builds, lists and extracts sound archives (the per-folder index of
// extension groups and 8-character name keys the engine looks sounds up in).
#include <CLI/CLI.hpp>
#include <map>

#include "sources/sound_archive.h"
#include "tools/tool_support.h"

static const char* kTool = "tonepack";

static std::string KeyText(const uint8_t* key, size_t width) {
    std::string s;
    for (size_t i = 0; i < width && key[i]; i++) s += (char)key[i];
    return s;
}

static int Create(const std::string& archivePath, const std::vector<std::string>& files) {
    struct Item {
        std::string path;
        uint8_t nameKey[8];
        uint32_t size;
        uint32_t offset;
    };
    // Groups keyed by extension key, in the order first met.
    std::vector<std::string> order;
    std::map<std::string, std::vector<Item>> groups;
    std::map<std::string, std::string> seen;  // name+ext key -> file
    for (const std::string& path : files) {
        std::string name;
        if (!FileNameCp932(path, &name)) return ToolFail(kTool, path + ": name is not valid text");
        Item item;
        item.path = path;
        uint8_t extKey[4];
        Archive_KeysOf(name.c_str(), item.nameKey, extKey);
        std::string ext((const char*)extKey, 4);
        std::string both = std::string((const char*)item.nameKey, 8) + ext;
        if (seen.count(both))
            return ToolFail(kTool, path + " and " + seen[both] + " share the key " +
                                       KeyText(item.nameKey, 8) + "." + KeyText(extKey, 4));
        seen[both] = path;
        if (!groups.count(ext)) order.push_back(ext);
        groups[ext].push_back(item);
    }

    uint64_t tableAt = 8 + 12 * (uint64_t)order.size();
    uint64_t dataAt = tableAt + 16 * (uint64_t)files.size();
    std::vector<uint8_t> out(dataAt, 0);
    PutLe32(out.data() + 4, (uint32_t)order.size());
    uint64_t table = tableAt;
    for (size_t g = 0; g < order.size(); g++) {
        uint8_t* rec = out.data() + 8 + 12 * g;
        memcpy(rec, order[g].data(), 4);
        PutLe32(rec + 4, (uint32_t)table);
        PutLe32(rec + 8, (uint32_t)groups[order[g]].size());
        for (Item& item : groups[order[g]]) {
            std::vector<uint8_t> bytes;
            if (!ReadWholeFile(item.path, &bytes)) return ToolFail(kTool, item.path + ": cannot read");
            if (out.size() + bytes.size() > 0x7FFFFFFF) return ToolFail(kTool, "archive would exceed 2 GiB");
            uint8_t* e = out.data() + table;
            memcpy(e, item.nameKey, 8);
            PutLe32(e + 8, (uint32_t)bytes.size());
            PutLe32(e + 12, (uint32_t)out.size());
            out.insert(out.end(), bytes.begin(), bytes.end());
            table += 16;
        }
    }
    if (!WriteFileAtomic(archivePath, out)) return ToolFail(kTool, archivePath + ": cannot write");
    return 0;
}

struct Listed {
    std::string name;  // "name.ext" from the keys
    uint32_t size, offset;
};

// Reads the index with every count and offset checked against the file.
static std::string ReadIndex(const std::vector<uint8_t>& a, std::vector<Listed>* entries) {
    if (a.size() < 8) return "too short for an archive header";
    int32_t groupCount = Le32(a.data() + 4);
    if (groupCount < 0 || 8 + 12 * (uint64_t)groupCount > a.size()) return "damaged group count";
    for (int32_t g = 0; g < groupCount; g++) {
        const uint8_t* rec = a.data() + 8 + 12 * g;
        uint32_t table = (uint32_t)Le32(rec + 4), count = (uint32_t)Le32(rec + 8);
        if ((uint64_t)table + 16 * (uint64_t)count > a.size()) return "damaged entry table";
        std::string ext = KeyText(rec, 4);
        for (uint32_t i = 0; i < count; i++) {
            const uint8_t* e = a.data() + table + 16 * i;
            Listed l;
            l.name = KeyText(e, 8) + (ext.empty() ? "" : "." + ext);
            l.size = (uint32_t)Le32(e + 8);
            l.offset = (uint32_t)Le32(e + 12);
            if ((uint64_t)l.offset + l.size > a.size()) return "entry " + l.name + " lies outside the file";
            entries->push_back(l);
        }
    }
    return "";
}

static int List(const std::string& archivePath) {
    std::vector<uint8_t> a;
    std::vector<Listed> entries;
    if (!ReadWholeFile(archivePath, &a)) return ToolFail(kTool, archivePath + ": cannot read");
    std::string err = ReadIndex(a, &entries);
    if (!err.empty()) return ToolFail(kTool, archivePath + ": " + err);
    for (const Listed& l : entries) printf("%-13s %10u %10u\n", l.name.c_str(), l.size, l.offset);
    return 0;
}

static int Extract(const std::string& archivePath, const std::string& dir) {
    std::vector<uint8_t> a;
    std::vector<Listed> entries;
    if (!ReadWholeFile(archivePath, &a)) return ToolFail(kTool, archivePath + ": cannot read");
    std::string err = ReadIndex(a, &entries);
    if (!err.empty()) return ToolFail(kTool, archivePath + ": " + err);
    for (const Listed& l : entries) {
        if (l.name.empty() || l.name[0] == '.' || l.name.find('/') != std::string::npos)
            return ToolFail(kTool, "entry key \"" + l.name + "\" is not a usable file name");
        char text[1024];
        if (!Text_Cp932ToUtf8(l.name.c_str(), text, sizeof text))
            return ToolFail(kTool, "entry key is not valid text");
        std::vector<uint8_t> bytes(a.begin() + l.offset, a.begin() + l.offset + l.size);
        std::string path = dir + "/" + text;
        if (!WriteFileAtomic(path, bytes)) return ToolFail(kTool, path + ": cannot write");
    }
    return 0;
}

int main(int argc, char** argv) {
    CLI::App app{"Builds, lists and extracts sound archives (FOLDER.arc / FOLDER.dat)."};
    app.require_subcommand(1);
    std::string archive, dir = ".";
    std::vector<std::string> files;
    CLI::App* create = app.add_subcommand("create", "Pack FILEs into ARCHIVE, keyed by their names");
    create->add_option("archive", archive, "archive to write")->required();
    create->add_option("files", files, "files to pack")->required()->check(CLI::ExistingFile);
    CLI::App* list = app.add_subcommand("list", "List the entries: key, size, offset");
    list->add_option("archive", archive, "archive to read")->required()->check(CLI::ExistingFile);
    CLI::App* extract = app.add_subcommand("extract", "Write every entry to DIR under its key");
    extract->add_option("archive", archive, "archive to read")->required()->check(CLI::ExistingFile);
    extract->add_option("-C,--directory", dir, "output folder")->check(CLI::ExistingDirectory);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e);
        return ToolFail(kTool, e.what());
    }
    if (create->parsed()) return Create(archive, files);
    if (list->parsed()) return List(archive);
    return Extract(archive, dir);
}
