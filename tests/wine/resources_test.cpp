// The resources built into autorun.exe, read back through the platform's own
// resource calls from the program file loaded as data: the string tables and
// the restart notice in all 24 language variants, the version block and the
// icon. Checked as compiled, byte for byte where the layout matters, because
// the resource compiler decides details (class atoms, wide strings, padding)
// that reading the scripts cannot show.
#include "menu_driver.h"
#include "resource_ids.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

struct Variant {
    LANGID language;
    LANGID primary; // the variant whose texts it carries
    const char* name;
};

const Variant kVariants[] = {
    {0x0406, 0x0406, "Danish"},
    {0x0407, 0x0407, "German (Germany)"},
    {0x0409, 0x0409, "English (United States)"},
    {0x040A, 0x040A, "Spanish (traditional sort)"},
    {0x040C, 0x040C, "French (France)"},
    {0x0410, 0x0410, "Italian (Italy)"},
    {0x0413, 0x0413, "Dutch (Netherlands)"},
    {0x0414, 0x0414, "Norwegian (Bokmal)"},
    {0x041D, 0x041D, "Swedish"},
    {0x0807, 0x0407, "German (Switzerland)"},
    {0x0809, 0x0409, "English (United Kingdom)"},
    {0x080A, 0x040A, "Spanish (Mexico)"},
    {0x080C, 0x040C, "French (Belgium)"},
    {0x0810, 0x0410, "Italian (Switzerland)"},
    {0x0813, 0x0413, "Dutch (Belgium)"},
    {0x0814, 0x0414, "Norwegian (Nynorsk)"},
    {0x0C07, 0x0407, "German (Austria)"},
    {0x0C09, 0x0409, "English (Australia)"},
    {0x0C0A, 0x040A, "Spanish (modern sort)"},
    {0x0C0C, 0x040C, "French (Canada)"},
    {0x1009, 0x0409, "English (Canada)"},
    {0x100C, 0x040C, "French (Switzerland)"},
    {0x1409, 0x0409, "English (New Zealand)"},
    {0x1809, 0x0409, "English (Ireland)"},
};

const LANGID kDanish = 0x0406, kGerman = 0x0407, kEnglish = 0x0409, kSpanish = 0x040A, kFrench = 0x040C,
             kDutch = 0x0413, kNorwegian = 0x0414, kSwedish = 0x041D, kEnglishUK = 0x0809;

// The program file, loaded once as data: nothing of it runs.
HMODULE Program()
{
    static HMODULE module =
        LoadLibraryExA((BuildFolder() + "\\autorun.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    return module;
}

// The raw bytes of one resource; empty when the program file lacks it.
std::string Resource(LPCSTR type, WORD id, LANGID language)
{
    HRSRC found = FindResourceExA(Program(), type, MAKEINTRESOURCEA(id), language);
    if (!found) return {};
    const void* data = LockResource(LoadResource(Program(), found));
    return std::string(static_cast<const char*>(data), SizeofResource(Program(), found));
}

// A cursor over little-endian resource data that stops at the end instead of
// reading past it.
struct Reader {
    const std::string& bytes;
    size_t at = 0;
    bool overrun = false;

    unsigned Read(size_t size)
    {
        if (at + size > bytes.size()) {
            overrun = true;
            at = bytes.size();
            return 0;
        }
        unsigned value = 0;
        for (size_t i = 0; i < size; ++i)
            value |= static_cast<unsigned char>(bytes[at + i]) << (8 * i);
        at += size;
        return value;
    }
    WORD Word()
    {
        return static_cast<WORD>(Read(2));
    }
    DWORD Dword()
    {
        return Read(4);
    }
    std::wstring Chars(size_t count)
    {
        std::wstring text;
        for (size_t i = 0; i < count && !overrun; ++i)
            text += static_cast<wchar_t>(Word());
        return text;
    }
    std::wstring ZeroTerminated()
    {
        std::wstring text;
        for (WORD c = Word(); c != 0 && !overrun; c = Word())
            text += static_cast<wchar_t>(c);
        return text;
    }
    void AlignToDword()
    {
        at = (at + 3) & ~size_t{3};
    }
    bool AtEnd() const
    {
        return !overrun && at == bytes.size();
    }
};

// The non-empty strings of string-table blocks 1 and 2 (ids 0 to 31) of one
// language; an id of -1 records a block that is missing or malformed.
std::map<int, std::wstring> StringsOf(LANGID language)
{
    std::map<int, std::wstring> strings;
    for (WORD block = 1; block <= 2; ++block) {
        const std::string bytes = Resource(RT_STRING, block, language);
        Reader reader{bytes};
        for (int i = 0; i < 16; ++i) {
            const std::wstring text = reader.Chars(reader.Word());
            if (!text.empty()) strings[(block - 1) * 16 + i] = text;
        }
        if (bytes.empty() || !reader.AtEnd()) strings[-1] += L"block " + std::to_wstring(block) + L" ";
    }
    return strings;
}

std::wstring Tail(const std::wstring& text, size_t count)
{
    return text.substr(text.size() > count ? text.size() - count : 0);
}

std::string Narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text) {
        if (c >= 0x20 && c < 0x7F)
            out += static_cast<char>(c);
        else {
            char escape[12];
            snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(c));
            out += escape;
        }
    }
    return out;
}

// Whether the text converts to the Western ANSI code page and back unchanged,
// as it must for LoadStringA to hand it over intact.
bool FitsCodePage1252(const std::wstring& text)
{
    BOOL lossy = FALSE;
    char ansi[1024];
    const int length = WideCharToMultiByte(1252, WC_NO_BEST_FIT_CHARS, text.data(),
                                           static_cast<int>(text.size()), ansi, sizeof ansi, nullptr, &lossy);
    return length == static_cast<int>(text.size()) && !lossy;
}

TEST(Resources, EveryVariantCarriesExactlyTheFourteenTexts)
{
    ASSERT_NE(Program(), nullptr) << "cannot load autorun.exe from " << BuildFolder();
    const std::vector<int> ids = {IDS_DIRECTX_FAILED,
                                  IDS_INSTALL_GAME,
                                  IDS_INSTALL_CODEC,
                                  IDS_PLAY_GAME,
                                  IDS_EXIT,
                                  IDS_TITLE_INSTALL,
                                  IDS_TITLE_MENU,
                                  IDS_DIRECTX_CAPTION,
                                  IDS_DIRECTX_QUESTION,
                                  IDS_INSTALL_FAILURE_CAPTION,
                                  IDS_CODEC_QUESTION,
                                  IDS_CODEC_CAPTION,
                                  IDS_CODEC_FAILED,
                                  IDS_CODEC_INSTALLED};
    for (const Variant& variant : kVariants) {
        const std::map<int, std::wstring> strings = StringsOf(variant.language);
        std::vector<int> carried;
        for (const auto& [id, text] : strings) {
            carried.push_back(id);
            if (id < 0) continue;
            // Loaded into 512-character buffers; an ampersand would turn a
            // button label's next letter into a mnemonic.
            EXPECT_LE(text.size(), 511u) << variant.name << " id " << id;
            EXPECT_EQ(text.find(L'&'), std::wstring::npos) << variant.name << " id " << id;
            EXPECT_EQ(text.find_first_of(L"\r\t"), std::wstring::npos) << variant.name << " id " << id;
            EXPECT_TRUE(FitsCodePage1252(text)) << variant.name << " id " << id << ": " << Narrow(text);
        }
        EXPECT_EQ(carried, ids) << variant.name;
    }
}

TEST(Resources, SubLanguageVariantsCarryTheirPrimaryVariant)
{
    for (const Variant& variant : kVariants) {
        if (variant.language == variant.primary) continue;
        EXPECT_EQ(StringsOf(variant.language), StringsOf(variant.primary)) << variant.name;
        const std::string notice = Resource(RT_DIALOG, IDD_RESTART_NOTICE, variant.language);
        EXPECT_FALSE(notice.empty()) << variant.name;
        EXPECT_EQ(notice, Resource(RT_DIALOG, IDD_RESTART_NOTICE, variant.primary)) << variant.name;
    }
}

TEST(Resources, TextsKeepTheirExactCharacters)
{
    struct Case {
        const char* name;
        LANGID language;
        int id;
        std::wstring text;
    };
    // Invisible characters at the ends, a deliberate misspelling, and letters
    // outside ASCII that show whether the UTF-8 scripts were read as such.
    const Case cases[] = {
        {"French 4, no-break space", kFrench, IDS_INSTALL_CODEC,
         L"Installation de Indeo 5 (obligatoire)\u00A0"},
        {"Swedish 10, no-break space", kSwedish, IDS_DIRECTX_CAPTION, L"DirectX-installation\u00A0"},
        {"Swedish 14, no-break space", kSwedish, IDS_CODEC_CAPTION, L"Indeo-installation\u00A0"},
        {"English 16", kEnglish, IDS_CODEC_INSTALLED, L"Indeo codec installed OK.."},
        {"Danish 2", kDanish, IDS_DIRECTX_FAILED, L"Installation af DirextX mislykkedes"},
        {"German 8", kGerman, IDS_TITLE_MENU, L"ZANTORIA Autorun-Men\u00FC"},
        {"Norwegian 8", kNorwegian, IDS_TITLE_MENU, L"Autokj\u00F8r-meny for ZANTORIA"},
        {"Spanish 7", kSpanish, IDS_TITLE_INSTALL, L"Instalaci\u00F3n de ZANTORIA"},
    };
    for (const Case& c : cases) {
        const std::wstring text = StringsOf(c.language)[c.id];
        EXPECT_EQ(Narrow(text), Narrow(c.text)) << c.name;
    }

    const std::wstring french11 = StringsOf(kFrench)[IDS_DIRECTX_QUESTION];
    const std::wstring french13 = StringsOf(kFrench)[IDS_CODEC_QUESTION];
    const std::wstring spanish11 = StringsOf(kSpanish)[IDS_DIRECTX_QUESTION];
    EXPECT_EQ(Narrow(Tail(french11, 14)), "correctement. ") << "French 11, plain space";
    EXPECT_EQ(Narrow(Tail(french13, 12)), " ZANTORIA. \\u000A") << "French 13, space and LF";
    EXPECT_EQ(Narrow(spanish11.substr(0, 7)), "\\u00BFDeseas") << "Spanish 11";
    EXPECT_EQ(StringsOf(kGerman)[IDS_DIRECTX_QUESTION].size(), 228u) << "German 11, the longest text";
}

struct DialogControl {
    DWORD style, extendedStyle;
    short x, y, width, height;
    WORD id;
    DWORD windowClass; // 0xFFFF0000 | atom, or 0 for a class given by name
    std::wstring text;
    WORD creationDataSize;
};

struct DialogTemplate {
    bool parsed = false;
    DWORD style = 0, extendedStyle = 0;
    short x = 0, y = 0, width = 0, height = 0;
    std::wstring menu, windowClass, caption, font;
    WORD pointSize = 0;
    std::vector<DialogControl> controls;
};

// A classic DLGTEMPLATE with DS_SETFONT; the extended form starts with 1,
// 0xFFFF and is reported as not parsed.
DialogTemplate ParseDialog(const std::string& bytes)
{
    DialogTemplate dialog;
    Reader r{bytes};
    dialog.style = r.Dword();
    if ((dialog.style & 0xFFFF0000) == 0xFFFF0000 || !(dialog.style & DS_SETFONT)) return dialog;
    dialog.extendedStyle = r.Dword();
    const WORD count = r.Word();
    dialog.x = r.Word(), dialog.y = r.Word(), dialog.width = r.Word(), dialog.height = r.Word();
    dialog.menu = r.ZeroTerminated();
    dialog.windowClass = r.ZeroTerminated();
    dialog.caption = r.ZeroTerminated();
    dialog.pointSize = r.Word();
    dialog.font = r.ZeroTerminated();
    for (WORD i = 0; i < count; ++i) {
        DialogControl control;
        r.AlignToDword();
        control.style = r.Dword(), control.extendedStyle = r.Dword();
        control.x = r.Word(), control.y = r.Word(), control.width = r.Word(), control.height = r.Word();
        control.id = r.Word();
        if (r.Word() == 0xFFFF)
            control.windowClass = 0xFFFF0000 | r.Word();
        else
            r.ZeroTerminated();
        control.text = r.ZeroTerminated();
        control.creationDataSize = r.Word();
        r.at += control.creationDataSize;
        dialog.controls.push_back(control);
    }
    dialog.parsed = r.AtEnd();
    return dialog;
}

TEST(Resources, RestartNoticeTemplateInEveryVariant)
{
    for (const Variant& variant : kVariants) {
        const DialogTemplate notice = ParseDialog(Resource(RT_DIALOG, IDD_RESTART_NOTICE, variant.language));
        ASSERT_TRUE(notice.parsed) << variant.name << ": missing, extended form or malformed";
        // Popup, caption, modal frame, font, centred; no system menu, so no close box.
        EXPECT_EQ(notice.style, 0x80C008C0u) << variant.name;
        EXPECT_EQ(notice.extendedStyle, 0u) << variant.name;
        EXPECT_EQ((std::vector<short>{notice.x, notice.y, notice.width, notice.height}),
                  (std::vector<short>{0, 0, 186, 92}))
            << variant.name;
        EXPECT_EQ(notice.menu, L"") << variant.name;
        EXPECT_EQ(notice.windowClass, L"") << variant.name;
        EXPECT_EQ(notice.pointSize, 8) << variant.name;
        EXPECT_EQ(notice.font, L"MS Sans Serif") << variant.name;
        ASSERT_EQ(notice.controls.size(), 2u) << variant.name;

        const DialogControl& ok = notice.controls[0];
        EXPECT_EQ(ok.style, 0x50010001u) << variant.name << " OK button";
        EXPECT_EQ(ok.id, IDOK) << variant.name;
        EXPECT_EQ(ok.windowClass, 0xFFFF0080u) << variant.name << " OK button class";
        EXPECT_EQ((std::vector<short>{ok.x, ok.y, ok.width, ok.height}), (std::vector<short>{50, 71, 85, 14}))
            << variant.name;

        const DialogControl& text = notice.controls[1];
        EXPECT_EQ(text.style, 0x50020001u) << variant.name << " notice text";
        EXPECT_EQ(text.id, 0xFFFF) << variant.name;
        EXPECT_EQ(text.windowClass, 0xFFFF0082u) << variant.name << " notice text class";
        EXPECT_EQ((std::vector<short>{text.x, text.y, text.width, text.height}),
                  (std::vector<short>{5, 10, 172, 55}))
            << variant.name;

        for (const DialogControl& control : notice.controls) {
            EXPECT_EQ(control.extendedStyle, 0u) << variant.name;
            EXPECT_EQ(control.creationDataSize, 0) << variant.name;
        }
        for (const std::wstring* shown : {&notice.caption, &ok.text, &text.text}) {
            EXPECT_FALSE(shown->empty()) << variant.name;
            EXPECT_EQ(shown->find_first_of(L"&\r"), std::wstring::npos)
                << variant.name << ": " << Narrow(*shown);
            EXPECT_TRUE(FitsCodePage1252(*shown)) << variant.name << ": " << Narrow(*shown);
        }
        // English has three paragraphs; the other languages run the first
        // two sentences together.
        size_t paragraphs = 1;
        for (size_t at = text.text.find(L"\n\n"); at != std::wstring::npos;
             at = text.text.find(L"\n\n", at + 2))
            ++paragraphs;
        EXPECT_EQ(paragraphs, variant.primary == kEnglish ? 3u : 2u) << variant.name;
        EXPECT_EQ(ok.text, variant.primary == kSpanish ? L"Aceptar" : L"OK") << variant.name;
    }
}

TEST(Resources, RestartNoticeTexts)
{
    struct Case {
        LANGID language;
        std::wstring caption;
        std::wstring textPart; // a piece of the notice text
    };
    const Case cases[] = {
        {0x0C07, L"Windows-Neustart", L"ordnungsgem\u00E4\u00DF installiert."},
        {0x1809, L"Restart Windows.", L"DirectX has installed correctly.\n\nYou will need"},
        {kDutch, L"Windows opnieuw opstarten. ", L"ZANTORIA wordt nu ge\u00EFnstalleerd"},
        {kDanish, L"Genstart Windows.", L"for at  \u00E6ndringerne"},
        {kFrench, L"Red\u00E9marrez Windows.", L"prises en compte.\n\nL'installation"},
    };
    for (const Case& c : cases) {
        const DialogTemplate notice = ParseDialog(Resource(RT_DIALOG, IDD_RESTART_NOTICE, c.language));
        ASSERT_EQ(notice.controls.size(), 2u) << std::hex << c.language;
        EXPECT_EQ(Narrow(notice.caption), Narrow(c.caption)) << std::hex << c.language;
        EXPECT_NE(notice.controls[1].text.find(c.textPart), std::wstring::npos)
            << std::hex << c.language << ": " << Narrow(notice.controls[1].text);
    }
}

struct VersionNode {
    std::wstring key;
    WORD type = 0;
    std::string value;
    std::vector<VersionNode> children;
};

// One node of a version block (wLength, wValueLength, wType, key, value,
// children), each part aligned to a double word; a text value's length counts
// characters, a binary one's bytes. Answers where the node ends, or 0 when it
// does not fit in its parent.
size_t ParseVersionNode(const std::string& bytes, size_t start, VersionNode& node)
{
    Reader r{bytes, start};
    const size_t end = start + r.Word();
    const WORD valueLength = r.Word();
    node.type = r.Word();
    node.key = r.ZeroTerminated();
    r.AlignToDword();
    const size_t valueBytes = node.type == 1 ? valueLength * 2u : valueLength;
    if (r.overrun || end > bytes.size() || r.at + valueBytes > end) return 0;
    node.value = bytes.substr(r.at, valueBytes);
    r.at += valueBytes;
    const std::string inside = bytes.substr(0, end);
    for (r.AlignToDword(); r.at < end; r.AlignToDword()) {
        node.children.emplace_back();
        r.at = ParseVersionNode(inside, r.at, node.children.back());
        if (r.at == 0) return 0;
    }
    return end;
}

TEST(Resources, VersionBlock)
{
    const std::string bytes = Resource(RT_VERSION, IDV_VERSION, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT));
    VersionNode root;
    ASSERT_EQ(ParseVersionNode(bytes, 0, root), bytes.size())
        << "missing or malformed, " << bytes.size() << " bytes";
    EXPECT_EQ(root.key, L"VS_VERSION_INFO");

    VS_FIXEDFILEINFO fixed;
    ASSERT_EQ(root.value.size(), sizeof fixed);
    memcpy(&fixed, root.value.data(), sizeof fixed);
    const DWORD expected[] = {0xFEEF04BD, 0x00010000, 0x00010000, 1, 0x00010000, 1, 0x3F,
                              0,          0x00040004, 1,          0, 0,          0};
    const DWORD* actual = &fixed.dwSignature;
    for (size_t i = 0; i < std::size(expected); ++i)
        EXPECT_EQ(actual[i], expected[i]) << "fixed part, field " << i;

    ASSERT_EQ(root.children.size(), 2u);
    const VersionNode& stringInfo = root.children[0];
    EXPECT_EQ(stringInfo.key, L"StringFileInfo");
    ASSERT_EQ(stringInfo.children.size(), 1u);
    EXPECT_EQ(stringInfo.children[0].key, L"080904b0");

    // Keys in this order; null for the values that are ours to choose but
    // must not be empty.
    const std::pair<std::wstring, const wchar_t*> keys[] = {
        {L"Comments", L"Game CD Autorun application"},
        {L"CompanyName", nullptr},
        {L"FileDescription", L"Autorun"},
        {L"FileVersion", L"1, 0, 0, 1"},
        {L"InternalName", L"Autorun"},
        {L"LegalCopyright", nullptr},
        {L"LegalTrademarks", L""},
        {L"OriginalFilename", L"Autorun.exe"},
        {L"PrivateBuild", L""},
        {L"ProductName", nullptr},
        {L"ProductVersion", L"1, 0, 0, 1"},
        {L"SpecialBuild", L""},
    };
    const std::vector<VersionNode>& strings = stringInfo.children[0].children;
    ASSERT_EQ(strings.size(), std::size(keys));
    for (size_t i = 0; i < strings.size(); ++i) {
        EXPECT_EQ(Narrow(strings[i].key), Narrow(keys[i].first)) << "key " << i;
        std::wstring value(strings[i].value.size() / 2, L'\0');
        memcpy(value.data(), strings[i].value.data(), value.size() * 2);
        value = value.c_str(); // without the terminator
        if (keys[i].second)
            EXPECT_EQ(Narrow(value), Narrow(keys[i].second)) << Narrow(keys[i].first);
        else
            EXPECT_FALSE(value.empty()) << Narrow(keys[i].first);
    }

    const VersionNode& varInfo = root.children[1];
    EXPECT_EQ(varInfo.key, L"VarFileInfo");
    ASSERT_EQ(varInfo.children.size(), 1u);
    EXPECT_EQ(varInfo.children[0].key, L"Translation");
    EXPECT_EQ(varInfo.children[0].value, std::string("\x09\x08\xB0\x04", 4)) << "0x0809, 0x04B0";
}

TEST(Resources, IconForTheProgramFile)
{
    const std::string group = Resource(RT_GROUP_ICON, IDI_APPLICATION_ICON, kEnglishUK);
    Reader r{group};
    EXPECT_EQ(r.Word(), 0);
    EXPECT_EQ(r.Word(), 1) << "icon type";
    ASSERT_EQ(r.Word(), 1) << "image count";
    EXPECT_EQ(r.Read(1), 32u) << "width";
    EXPECT_EQ(r.Read(1), 32u) << "height";
    EXPECT_EQ(r.Read(1), 0u) << "colour count (256)";
    r.Read(1);
    EXPECT_EQ(r.Word(), 1) << "planes";
    EXPECT_EQ(r.Word(), 8) << "bits per pixel";
    EXPECT_EQ(r.Dword(), 2216u) << "image size";
    const WORD imageId = r.Word();
    EXPECT_TRUE(r.AtEnd());

    std::string image = Resource(RT_ICON, imageId, kEnglishUK);
    ASSERT_EQ(image.size(), 2216u);
    BITMAPINFOHEADER header;
    memcpy(&header, image.data(), sizeof header);
    EXPECT_EQ(header.biSize, 40u);
    EXPECT_EQ(header.biWidth, 32);
    EXPECT_EQ(header.biHeight, 64) << "colour image and mask together";
    EXPECT_EQ(header.biBitCount, 8);
    // The platform must accept it as an icon.
    HICON icon =
        CreateIconFromResourceEx(reinterpret_cast<BYTE*>(image.data()), static_cast<DWORD>(image.size()),
                                 TRUE, 0x00030000, 32, 32, LR_DEFAULTCOLOR);
    EXPECT_NE(icon, nullptr);
    if (icon) DestroyIcon(icon);
}

} // namespace
