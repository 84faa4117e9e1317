#pragma once
// AppSettings: the per-user settings of the application object. They are read
// once at start-up and sit at the top of every project item's inheritance
// chain: a crawl option stored as -1 answers a built-in value here.
//
// The store is an INI file (organisation "Nordvane", application "Ormbrook",
// group "Application Settings"); tests and the command line may point it
// elsewhere. Nothing else in the program reads the store, except the picture
// panel's "Pickup" button, which is why PickupDir is written back at load.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class QSettings;

namespace ormbrook {

// The seven extension lists of a filter, in the order of their settings.
enum ExtKind : int {
    ExtKindHtml,
    ExtKindText,
    ExtKindImage,
    ExtKindAudio,
    ExtKindVideo,
    ExtKindApplication,
    ExtKindOthers,
    kExtKindCount
};

extern const std::array<const char*, kExtKindCount> kExtListNames;   // "ExtHtml" ...
extern const std::array<const char*, kExtKindCount> kUVExtListNames; // "UVExtHtml" ...

// A filter group: the switch that heads it, its no-extension switch and its
// lists. The download filter and the exclusion filter both have this shape;
// the group is inherited as a whole.
struct ExtFilterGroup {
    int32_t use = -1;
    int32_t noExt = -1;
    std::array<std::string, kExtKindCount> lists;

    bool operator==(const ExtFilterGroup&) const = default;
    // True when the extension is in one of the seven lists.
    bool ListsContain(std::string_view extension) const;
};

// An extension list is split at ";" only; each piece is compared whole,
// blanks included, ignoring ASCII letter case. Empty pieces never match.
bool ExtensionListMatches(std::string_view list, std::string_view extension);

// What the application answers for a filter group whose switch is -1.
const ExtFilterGroup& BuiltInDownloadFilter();
const ExtFilterGroup& BuiltInExclusionFilter();

// The transition effects that MUDrawType indexes (0 to 11).
extern const std::array<const char*, 12> kEffectNames;

// Password scrambling for the stored dial-up password ("Sai").
std::string EncodePassword(std::string_view password);
std::string DecodePassword(std::string_view scrambled);

// The per-user data folder (without a final "/"): $XDG_DATA_HOME/Ormbrook,
// or ~/.local/share/Ormbrook. Not created here.
std::string DefaultProgramFolder();

// The stored values, named as in the store. -1 on a crawl option means
// "not set"; the accessors of AppSettings answer the effective value.
struct SettingsValues {
    std::string MirrorDir;
    std::string PickupDir;
    int32_t TimerValid = 1;
    int32_t UseRobotsTxt = 0;
    int32_t ProxyOn = 0;
    std::string ProxyName;
    int32_t ProxyPort = 8080;
    int32_t AutoDialup = 0;
    std::string DialupEntry;
    std::string password; // kept in clear here, stored scrambled as "Sai"
    int32_t DialRetry = 2;
    int32_t PilotArea = -1;
    int32_t LinkMax = -1;
    int32_t RenewalType = -1;
    int32_t NoCache = -1;
    int32_t ConnectionTimeout = -1;
    int32_t ReplyRcvTimeout = -1;
    int32_t CtlRcvTimeout = -1;
    int32_t DataRcvTimeout = -1;
    int32_t CloseTimeout = -1;
    int32_t TotalTimeout = -1;
    int32_t DLRetry = -1;
    int32_t LocalizeLink = -1;
    ExtFilterGroup download;  // UseExtFilter, DLNoExt, ExtHtml ... ExtOthers
    ExtFilterGroup exclusion; // UseUVExtFilter, NotDLNoExt, UVExtHtml ... UVExtOthers
    int32_t MUDrawType = 1;
    int32_t MUDrawSpeed = 5;
    int32_t BGColor = 0;
    int32_t MinPicWidth = 0;
    int32_t MinPicHeight = 0;
    int32_t IMGSW = 1;
    int32_t PicChgInterval = 5;
    int32_t PickupDisplay = 1;
    // 1: an https server whose certificate does not verify (an intranet's
    // own authority, a self-signed certificate) is fetched from all the same.
    int32_t AcceptUnverifiedCerts = 0;
    // Downloads at a time of one crawl: connections over HTTP/1.x, streams
    // of a host's connection over HTTP/2.
    int32_t MaxDownloads = 5;
    // 1: the HTTP/1.0 exchange (one request per connection) instead of
    // HTTP/1.1 and HTTP/2; an item may say otherwise (-1: inherit, 0).
    int32_t UseHttp10 = -1;
    // A crawl option like the range: 1 fetches the files a stored page
    // needs to look as it does (style sheets, scripts, pictures, fonts)
    // from other sites too.
    int32_t RequisitesOffSite = -1;
    // 1: mirror names keep the characters of a path (and of a host in
    // Unicode) as UTF-8 instead of their escapes (see MirrorNaming).
    int32_t ReadableNames = 0;
    // 1: a crawl that ends while nobody watches it (a timer's, or one whose
    // window is hidden) says so in a desktop notification.
    int32_t NotifyCrawlEnd = 1;

    bool operator==(const SettingsValues&) const = default;
};

// The bounds the settings sheet applies before saving: folders get forward
// slashes and a final "/", numbers are held inside their ranges; -1 passes.
void ApplySaveBounds(SettingsValues& values);

class AppSettings {
public:
    // storePath: an INI file to use instead of the per-user store.
    // programFolder: instead of DefaultProgramFolder(). The folder is created
    // when missing.
    explicit AppSettings(const std::string& storePath = {}, const std::string& programFolder = {});
    ~AppSettings();
    AppSettings(const AppSettings&) = delete;
    AppSettings& operator=(const AppSettings&) = delete;

    // Reads every value (a missing one reads as its default) and writes
    // PickupDir back. False when the store could not be read or written.
    bool LoadSettings();
    // Bounds the edited values, keeps them and writes every value.
    bool SaveSettings(const SettingsValues& edited);
    // The two commands that write a single value at once.
    bool ToggleTimerValid();
    bool SetPickupDisplay(int32_t display);

    // Sets one value by its stored name for this run only (not written),
    // bounded like a save. False for an unknown name or a number that
    // doesn't parse.
    bool SetByName(std::string_view name, std::string_view text);

    const SettingsValues& values() const { return values_; }
    const std::string& programFolder() const { return programFolder_; }

    // The values of this moment, for a crawl to read on its own thread while
    // the user edits these; the copy has no store and is never saved.
    std::shared_ptr<const AppSettings> Snapshot() const;

    // Effective values of the crawl and display options.
    int32_t PilotArea() const;
    int32_t LinkMax() const;
    int32_t RenewalType() const;
    int32_t NoCache() const;
    int32_t ConnectionTimeout() const;
    int32_t ReplyRcvTimeout() const;
    int32_t CtlRcvTimeout() const;
    int32_t DataRcvTimeout() const;
    int32_t CloseTimeout() const;
    int32_t TotalTimeout() const;
    int32_t DLRetry() const;
    int32_t LocalizeLink() const;
    int32_t UseHttp10() const;
    int32_t RequisitesOffSite() const;
    int32_t MUDrawType() const;
    int32_t MUDrawSpeed() const;
    int32_t BGColor() const;
    int32_t MinPicWidth() const;
    int32_t MinPicHeight() const;
    int32_t IMGSW() const;
    int32_t PicChgInterval() const;
    // The filter groups as a whole: built-in lists when the switch is -1.
    // The groups in force: the user's, or the built-in ones.
    const ExtFilterGroup& DownloadFilter() const;
    const ExtFilterGroup& ExclusionFilter() const;
    int32_t UseExtFilter() const { return DownloadFilter().use; }
    int32_t DLNoExt() const { return DownloadFilter().noExt; }
    int32_t UseUVExtFilter() const { return ExclusionFilter().use; }
    int32_t NotDLNoExt() const { return ExclusionFilter().noExt; }
    std::string ExtList(ExtKind kind) const { return DownloadFilter().lists[kind]; }
    std::string UVExtList(ExtKind kind) const { return ExclusionFilter().lists[kind]; }

private:
    struct SnapshotOf {};
    AppSettings(SnapshotOf, const AppSettings& from);
    bool writeAll();
    bool sync();

    std::unique_ptr<QSettings> store_;
    std::string programFolder_;
    SettingsValues values_;
};

} // namespace ormbrook
