// Orrin Deck: the demo application packed by `make demo`. A small console program that
// shows what a packed application sees: its arguments, the TALVIK_* variables, where it
// runs from, and the data files unpacked beside it.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <string>

namespace {

std::string narrow(const wchar_t* text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string result(size > 0 ? size - 1 : 0, '\0');
    if (size > 1) {
        WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), size, nullptr, nullptr);
    }
    return result;
}

std::wstring own_directory() {
    wchar_t path[MAX_PATH * 4];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    std::wstring directory(path, length);
    return directory.substr(0, directory.find_last_of(L'\\'));
}

// Prints the first line of a data file, to show the unpacked tree is in place.
void show_data_file(const std::wstring& directory, const wchar_t* name) {
    std::wstring path = directory + L"\\" + name;
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (file == nullptr) {
        printf("  %-28s missing\n", narrow(name).c_str());
        return;
    }
    char line[256] = {};
    if (fgets(line, sizeof line, file) != nullptr) {
        line[strcspn(line, "\r\n")] = 0;
    }
    fclose(file);
    printf("  %-28s %s\n", narrow(name).c_str(), line);
}

} // namespace

int main() {
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    printf("Orrin Deck 1.20 - a card table in one file\n");
    printf("arguments (%d):\n", count);
    for (int i = 0; i < count; ++i) {
        printf("  [%d] %s\n", i, narrow(arguments[i]).c_str());
    }
    printf("environment:\n");
    const wchar_t* names[] = {L"TALVIK_ONEFILE_PARENT",    L"TALVIK_ONEFILE_START",
                              L"TALVIK_ONEFILE_TIME_US",   L"TALVIK_ONEFILE_RANDOM",
                              L"TALVIK_ONEFILE_DIRECTORY", L"TALVIK_ORIGINAL_ARGV0"};
    for (const wchar_t* name : names) {
        wchar_t value[32768];
        DWORD length = GetEnvironmentVariableW(name, value, 32768);
        printf("  %-26s %s\n", narrow(name).c_str(), length > 0 ? narrow(value).c_str() : "(not set)");
    }
    std::wstring directory = own_directory();
    printf("running from:\n  %s\n", narrow(directory.c_str()).c_str());
    printf("data files:\n");
    show_data_file(directory, L"data\\decks\\starter.deck");
    show_data_file(directory, L"data\\art\\cards\\orrin.txt");
    show_data_file(directory, L"README.txt");
    // "--exit N" lets the demo show that the exit code passes through.
    for (int i = 1; i + 1 < count; ++i) {
        if (lstrcmpW(arguments[i], L"--exit") == 0) {
            return _wtoi(arguments[i + 1]);
        }
    }
    return 0;
}
