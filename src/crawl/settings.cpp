#include "crawl/settings.h"

#include "common/url.h"

#include <QDir>
#include <QSettings>
#include <QString>
#include <QVariant>

#include <charconv>
#include <cstdlib>
#include <limits>
#include <vector>

namespace ormbrook {

const std::array<const char*, kExtKindCount> kExtListNames = {
    "ExtHtml", "ExtText", "ExtImage", "ExtAudio", "ExtVideo", "ExtApplication", "ExtOthers"};
const std::array<const char*, kExtKindCount> kUVExtListNames = {
    "UVExtHtml", "UVExtText", "UVExtImage", "UVExtAudio", "UVExtVideo", "UVExtApplication", "UVExtOthers"};
const std::array<const char*, 12> kEffectNames = {
    "NoEffect", "Random", "CrossH", "CrossV", "RasterH", "RasterV",
    "RasterCloseH", "RasterCloseV", "RasterOpenH", "RasterOpenV", "WiperH", "WiperV"};

namespace {

constexpr const char* kGroup = "Application Settings";
constexpr int32_t kNoBound = std::numeric_limits<int32_t>::max();

enum class Kind { Int, Text, Folder, Password };

// One stored value: its name, where it lives in SettingsValues, its default
// and the bounds of a save. Folders have defaults that depend on each other,
// so LoadSettings handles those two itself.
struct Setting {
    const char* name;
    Kind kind;
    int32_t* (*intField)(SettingsValues&);
    std::string* (*textField)(SettingsValues&);
    int32_t defaultValue;
    bool bounded;
    int32_t low;
    int32_t high;
};

#define INT_SETTING(field, def) \
    {#field, Kind::Int, [](SettingsValues& v) { return &v.field; }, nullptr, def, false, 0, 0}
#define BOUNDED_SETTING(field, def, lo, hi) \
    {#field, Kind::Int, [](SettingsValues& v) { return &v.field; }, nullptr, def, true, lo, hi}
#define TEXT_SETTING(name, kind, expr) \
    {name, kind, nullptr, [](SettingsValues& v) { return &(expr); }, 0, false, 0, 0}

// The order in which the values are read and written.
const std::vector<Setting>& settingsTable()
{
    static const std::vector<Setting> table = [] {
        std::vector<Setting> t = {
            TEXT_SETTING("MirrorDir", Kind::Folder, v.MirrorDir),
            TEXT_SETTING("PickupDir", Kind::Folder, v.PickupDir),
            INT_SETTING(TimerValid, 1),
            INT_SETTING(UseRobotsTxt, 0),
            INT_SETTING(ProxyOn, 0),
            TEXT_SETTING("ProxyName", Kind::Text, v.ProxyName),
            INT_SETTING(ProxyPort, 8080),
            INT_SETTING(AutoDialup, 0),
            TEXT_SETTING("DialupEntry", Kind::Text, v.DialupEntry),
            TEXT_SETTING("Sai", Kind::Password, v.password),
            BOUNDED_SETTING(DialRetry, 2, 0, 5),
            INT_SETTING(PilotArea, -1),
            BOUNDED_SETTING(LinkMax, -1, 0, 10),
            INT_SETTING(RenewalType, -1),
            INT_SETTING(NoCache, -1),
            BOUNDED_SETTING(ConnectionTimeout, -1, 0, 3600),
            BOUNDED_SETTING(ReplyRcvTimeout, -1, 0, 3600),
            BOUNDED_SETTING(CtlRcvTimeout, -1, 0, 3600),
            BOUNDED_SETTING(DataRcvTimeout, -1, 0, 3600),
            BOUNDED_SETTING(CloseTimeout, -1, 0, 3600),
            BOUNDED_SETTING(TotalTimeout, -1, 0, kNoBound),
            BOUNDED_SETTING(DLRetry, -1, 0, 5),
            INT_SETTING(LocalizeLink, -1),
            {"UseExtFilter", Kind::Int, [](SettingsValues& v) { return &v.download.use; }, nullptr, -1, false, 0, 0},
            {"DLNoExt", Kind::Int, [](SettingsValues& v) { return &v.download.noExt; }, nullptr, -1, false, 0, 0},
            TEXT_SETTING("ExtHtml", Kind::Text, v.download.lists[ExtKindHtml]),
            TEXT_SETTING("ExtText", Kind::Text, v.download.lists[ExtKindText]),
            TEXT_SETTING("ExtImage", Kind::Text, v.download.lists[ExtKindImage]),
            TEXT_SETTING("ExtAudio", Kind::Text, v.download.lists[ExtKindAudio]),
            TEXT_SETTING("ExtVideo", Kind::Text, v.download.lists[ExtKindVideo]),
            TEXT_SETTING("ExtApplication", Kind::Text, v.download.lists[ExtKindApplication]),
            TEXT_SETTING("ExtOthers", Kind::Text, v.download.lists[ExtKindOthers]),
            {"UseUVExtFilter", Kind::Int, [](SettingsValues& v) { return &v.exclusion.use; }, nullptr, -1, false, 0, 0},
            {"NotDLNoExt", Kind::Int, [](SettingsValues& v) { return &v.exclusion.noExt; }, nullptr, -1, false, 0, 0},
            TEXT_SETTING("UVExtHtml", Kind::Text, v.exclusion.lists[ExtKindHtml]),
            TEXT_SETTING("UVExtText", Kind::Text, v.exclusion.lists[ExtKindText]),
            TEXT_SETTING("UVExtImage", Kind::Text, v.exclusion.lists[ExtKindImage]),
            TEXT_SETTING("UVExtAudio", Kind::Text, v.exclusion.lists[ExtKindAudio]),
            TEXT_SETTING("UVExtVideo", Kind::Text, v.exclusion.lists[ExtKindVideo]),
            TEXT_SETTING("UVExtApplication", Kind::Text, v.exclusion.lists[ExtKindApplication]),
            TEXT_SETTING("UVExtOthers", Kind::Text, v.exclusion.lists[ExtKindOthers]),
            INT_SETTING(MUDrawType, 1),
            BOUNDED_SETTING(MUDrawSpeed, 5, 0, 100),
            INT_SETTING(BGColor, 0),
            BOUNDED_SETTING(MinPicWidth, 0, 0, 640),
            BOUNDED_SETTING(MinPicHeight, 0, 0, 480),
            INT_SETTING(IMGSW, 1),
            BOUNDED_SETTING(PicChgInterval, 5, 5, 86400),
            INT_SETTING(PickupDisplay, 1),
            BOUNDED_SETTING(AcceptUnverifiedCerts, 0, 0, 1),
            BOUNDED_SETTING(MaxDownloads, 5, 1, 16),
            BOUNDED_SETTING(UseHttp10, -1, 0, 1),
            INT_SETTING(RequisitesOffSite, -1),
            BOUNDED_SETTING(ReadableNames, 0, 0, 1),
            BOUNDED_SETTING(NotifyCrawlEnd, 1, 0, 1),
        };
        return t;
    }();
    return table;
}

#undef INT_SETTING
#undef BOUNDED_SETTING
#undef TEXT_SETTING

const Setting* findSetting(std::string_view name)
{
    for (const Setting& s : settingsTable()) {
        if (name == s.name)
            return &s;
    }
    return nullptr;
}

int32_t bound(const Setting& s, int32_t v)
{
    if (!s.bounded || v == -1)
        return v;
    return v < s.low ? s.low : (v > s.high ? s.high : v);
}

std::string boundFolder(std::string folder)
{
    ForwardSlashes(folder);
    if (folder.empty() || folder.back() != '/')
        folder.push_back('/');
    return folder;
}

// Texts are bytes. Those that are UTF-8 are stored as plain text so that the
// file stays readable; anything else (Shift-JIS names, the scrambled
// password) is stored as a byte array so that it comes back unchanged.
QVariant toStored(const std::string& text)
{
    QByteArray bytes(text.data(), qsizetype(text.size()));
    QString asText = QString::fromUtf8(bytes);
    if (asText.toUtf8() == bytes && !bytes.contains('\0'))
        return asText;
    return bytes;
}

bool fromStored(const QVariant& v, std::string& out)
{
    if (!v.isValid())
        return false;
    QByteArray bytes = v.typeId() == QMetaType::QByteArray ? v.toByteArray() : v.toString().toUtf8();
    out.assign(bytes.constData(), size_t(bytes.size()));
    return true;
}

bool parseInt(std::string_view text, int32_t& out)
{
    int32_t v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty())
        return false;
    out = v;
    return true;
}

int32_t orDefault(int32_t stored, int32_t builtIn)
{
    return stored == -1 ? builtIn : stored;
}

} // namespace

bool ExtensionListMatches(std::string_view list, std::string_view extension)
{
    auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : char(c); };
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(';', start);
        if (end == std::string_view::npos)
            end = list.size();
        std::string_view item = list.substr(start, end - start);
        if (!item.empty() && item.size() == extension.size()) {
            bool same = true;
            for (size_t i = 0; i < item.size() && same; ++i)
                same = lower(item[i]) == lower(extension[i]);
            if (same)
                return true;
        }
        start = end + 1;
    }
    return false;
}

bool ExtFilterGroup::ListsContain(std::string_view extension) const
{
    for (const std::string& list : lists) {
        if (ExtensionListMatches(list, extension))
            return true;
    }
    return false;
}

namespace {
constexpr char kPasswordKey[] = "quembarlot";
uint8_t key(size_t j)
{
    return uint8_t(kPasswordKey[j % 10]);
}
} // namespace

std::string EncodePassword(std::string_view password)
{
    std::string out;
    out.reserve(password.size() * 3);
    for (size_t i = 0; i < password.size(); ++i) {
        const uint8_t c = uint8_t(password[i]);
        const size_t b = 3 * i;
        const uint8_t lo = uint8_t(key(b) + (c & 0x0F));
        const uint8_t hi = uint8_t(key(b + 2) + (c >> 4));
        out.push_back(char(lo));
        out.push_back(char(uint8_t(lo * hi)));
        out.push_back(char(hi));
    }
    return out;
}

std::string DecodePassword(std::string_view scrambled)
{
    std::string out;
    for (size_t i = 0; i + 3 <= scrambled.size(); i += 3) {
        const uint8_t lo = uint8_t(uint8_t(scrambled[i]) - key(i));
        const uint8_t hi = uint8_t(uint8_t(scrambled[i + 2]) - key(i + 2));
        out.push_back(char(uint8_t(lo | (hi << 4))));
    }
    return out;
}

std::string DefaultProgramFolder()
{
    const char* data = std::getenv("XDG_DATA_HOME");
    std::string base;
    if (data != nullptr && data[0] == '/') {
        base = data;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home != nullptr ? home : "") + "/.local/share";
    }
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    return base + "/Ormbrook";
}

void ApplySaveBounds(SettingsValues& values)
{
    for (const Setting& s : settingsTable()) {
        if (s.kind == Kind::Folder) {
            std::string* f = s.textField(values);
            *f = boundFolder(*f);
        } else if (s.kind == Kind::Int) {
            int32_t* f = s.intField(values);
            *f = bound(s, *f);
        }
    }
}

AppSettings::AppSettings(const std::string& storePath, const std::string& programFolder)
    : programFolder_(programFolder.empty() ? DefaultProgramFolder() : programFolder)
{
    if (storePath.empty())
        store_ = std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, "Nordvane", "Ormbrook");
    else
        store_ = std::make_unique<QSettings>(QString::fromStdString(storePath), QSettings::IniFormat);
    ForwardSlashes(programFolder_);
    QDir().mkpath(QString::fromUtf8(programFolder_.c_str()));
}

AppSettings::AppSettings(SnapshotOf, const AppSettings& from)
    : programFolder_(from.programFolder_), values_(from.values_)
{
}

std::shared_ptr<const AppSettings> AppSettings::Snapshot() const
{
    return std::shared_ptr<const AppSettings>(new AppSettings(SnapshotOf{}, *this));
}

AppSettings::~AppSettings() = default;

bool AppSettings::sync()
{
    store_->sync();
    return store_->status() == QSettings::NoError;
}

bool AppSettings::LoadSettings()
{
    SettingsValues v;
    store_->beginGroup(kGroup);
    for (const Setting& s : settingsTable()) {
        const QVariant stored = store_->value(s.name);
        switch (s.kind) {
        case Kind::Int: {
            bool ok = false;
            int32_t n = stored.isValid() ? stored.toInt(&ok) : 0;
            *s.intField(v) = ok ? n : s.defaultValue;
            break;
        }
        case Kind::Folder: {
            std::string* f = s.textField(v);
            if (!fromStored(stored, *f))
                *f = s.textField(v) == &v.MirrorDir ? programFolder_ + "/" + "Mirror/" : v.MirrorDir + "Pickup/";
            break;
        }
        case Kind::Text:
            fromStored(stored, *s.textField(v));
            break;
        case Kind::Password: {
            std::string scrambled;
            fromStored(stored, scrambled);
            v.password = DecodePassword(scrambled);
            break;
        }
        }
    }
    store_->setValue("PickupDir", toStored(v.PickupDir));
    store_->endGroup();
    values_ = std::move(v);
    return sync();
}

bool AppSettings::writeAll()
{
    store_->beginGroup(kGroup);
    for (const Setting& s : settingsTable()) {
        switch (s.kind) {
        case Kind::Int:
            store_->setValue(s.name, *s.intField(values_));
            break;
        case Kind::Text:
        case Kind::Folder:
            store_->setValue(s.name, toStored(*s.textField(values_)));
            break;
        case Kind::Password:
            store_->setValue(s.name, toStored(EncodePassword(values_.password)));
            break;
        }
    }
    store_->endGroup();
    return sync();
}

bool AppSettings::SaveSettings(const SettingsValues& edited)
{
    values_ = edited;
    ApplySaveBounds(values_);
    return writeAll();
}

bool AppSettings::ToggleTimerValid()
{
    values_.TimerValid = values_.TimerValid == 1 ? 0 : 1;
    store_->beginGroup(kGroup);
    store_->setValue("TimerValid", values_.TimerValid);
    store_->endGroup();
    return sync();
}

bool AppSettings::SetPickupDisplay(int32_t display)
{
    values_.PickupDisplay = display;
    store_->beginGroup(kGroup);
    store_->setValue("PickupDisplay", display);
    store_->endGroup();
    return sync();
}

bool AppSettings::SetByName(std::string_view name, std::string_view text)
{
    const Setting* s = findSetting(name);
    if (s == nullptr)
        return false;
    switch (s->kind) {
    case Kind::Int: {
        int32_t n;
        if (!parseInt(text, n))
            return false;
        *s->intField(values_) = bound(*s, n);
        return true;
    }
    case Kind::Folder:
        if (text.empty() || text.front() != '/')
            return false; // a folder is a full path, not one under the current folder
        *s->textField(values_) = boundFolder(std::string(text));
        return true;
    case Kind::Text:
    case Kind::Password: // the password is given in clear
        s->textField(values_)->assign(text);
        return true;
    }
    return false;
}

int32_t AppSettings::PilotArea() const { return orDefault(values_.PilotArea, 0); }
int32_t AppSettings::LinkMax() const { return orDefault(values_.LinkMax, 0); }
int32_t AppSettings::RenewalType() const { return orDefault(values_.RenewalType, 2); }
int32_t AppSettings::NoCache() const { return orDefault(values_.NoCache, 0); }
int32_t AppSettings::ConnectionTimeout() const { return orDefault(values_.ConnectionTimeout, 60); }
int32_t AppSettings::ReplyRcvTimeout() const { return orDefault(values_.ReplyRcvTimeout, 60); }
int32_t AppSettings::CtlRcvTimeout() const { return orDefault(values_.CtlRcvTimeout, 60); }
int32_t AppSettings::DataRcvTimeout() const { return orDefault(values_.DataRcvTimeout, 60); }
int32_t AppSettings::CloseTimeout() const { return orDefault(values_.CloseTimeout, 60); }
int32_t AppSettings::TotalTimeout() const { return orDefault(values_.TotalTimeout, 0); }
int32_t AppSettings::DLRetry() const { return orDefault(values_.DLRetry, 1); }
int32_t AppSettings::LocalizeLink() const { return orDefault(values_.LocalizeLink, 0); }
int32_t AppSettings::UseHttp10() const { return orDefault(values_.UseHttp10, 0); }
int32_t AppSettings::RequisitesOffSite() const { return orDefault(values_.RequisitesOffSite, 0); }
int32_t AppSettings::MUDrawType() const { return orDefault(values_.MUDrawType, 1); }
int32_t AppSettings::MUDrawSpeed() const { return orDefault(values_.MUDrawSpeed, 5); }
int32_t AppSettings::BGColor() const { return orDefault(values_.BGColor, 0); }
int32_t AppSettings::MinPicWidth() const { return orDefault(values_.MinPicWidth, 0); }
int32_t AppSettings::MinPicHeight() const { return orDefault(values_.MinPicHeight, 0); }
int32_t AppSettings::IMGSW() const { return orDefault(values_.IMGSW, 1); }
int32_t AppSettings::PicChgInterval() const { return orDefault(values_.PicChgInterval, 5); }

const ExtFilterGroup& BuiltInDownloadFilter()
{
    static const ExtFilterGroup builtIn = [] {
        ExtFilterGroup group;
        group.use = 0;
        group.noExt = 1;
        group.lists = {"htm;html;shtml", "txt;doc", "gif;jpg;jpeg;bmp", "wav;aif;mid", "avi", "", ""};
        return group;
    }();
    return builtIn;
}

const ExtFilterGroup& BuiltInExclusionFilter()
{
    static const ExtFilterGroup builtIn = [] {
        ExtFilterGroup group;
        group.use = 0;
        group.noExt = 0;
        return group;
    }();
    return builtIn;
}

const ExtFilterGroup& AppSettings::DownloadFilter() const
{
    return values_.download.use != -1 ? values_.download : BuiltInDownloadFilter();
}

const ExtFilterGroup& AppSettings::ExclusionFilter() const
{
    return values_.exclusion.use != -1 ? values_.exclusion : BuiltInExclusionFilter();
}

} // namespace ormbrook
