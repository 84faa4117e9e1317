#pragma once
// The pages shared by the settings sheet, the item properties and the
// slide-show list: each loads a plain value object, shows what an option
// inherits beside its "継承" box, and gives the edited object back. A text
// that is not an integer keeps the page open with "整数を入力してください。".

#include "crawl/settings.h"
#include "shell/slide_show_list.h"
#include "shell/timer_doc.h"

#include <QWidget>

#include <array>
#include <functional>
#include <optional>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace ormbrook {

extern const char kIntegerPrompt[];

// The crawl options of page "巡回", as the settings or an item store them
// (-1: inherited).
struct CrawlOptionValues {
    int32_t linkMax = -1;
    int32_t pilotArea = -1;
    int32_t renewalType = -1;
    std::array<int32_t, 6> timeouts{-1, -1, -1, -1, -1, -1}; // Connection, Reply, Header, Data, Close, Total
    int32_t noCache = -1;
    int32_t retry = -1;
    int32_t localizeLink = -1;
    int32_t useHttp10 = -1;
    int32_t requisitesOffSite = -1;

    bool operator==(const CrawlOptionValues&) const = default;
};

// The bounds an OK applies: link depth 0..10, time-outs but the total
// 0..3600, the total at least 0, retries 0..5; -1 passes.
void BoundCrawlOptions(CrawlOptionValues& values);

CrawlOptionValues CrawlOptionsOf(const SettingsValues& values);
void StoreCrawlOptions(const CrawlOptionValues& options, SettingsValues& values);
// The application's answers for -1.
CrawlOptionValues EffectiveCrawlOptions(const AppSettings& settings);

// Reads an integer from an edit; on a text that is not one, puts the focus
// there and answers nothing (the dialog then says kIntegerPrompt).
std::optional<int> ReadInteger(QLineEdit* edit);

// "巡回" (page 3 of the sheet, page 2 of the item properties).
class CrawlOptionsPage : public QWidget {
    Q_OBJECT
public:
    explicit CrawlOptionsPage(QWidget* parent = nullptr);
    // own: the stored values; inherited: what each -1 stands for.
    void Load(const CrawlOptionValues& own, const CrawlOptionValues& inherited);
    // Nothing when an edit does not hold an integer.
    std::optional<CrawlOptionValues> Store() const;

    // One option's controls, for the tests.
    QCheckBox* inheritBox(int option) const { return inherit_[option]; }
    QLineEdit* linkMaxEdit() const { return linkMax_; }
    QLineEdit* timeoutEdit(int i) const { return timeouts_[i]; }
    QLineEdit* retryEdit() const { return retry_; }
    QButtonGroup* areaGroup() const { return area_; }
    QCheckBox* offSiteBox() const { return offSite_; }

    QCheckBox* http10Box() const { return http10_; }

    enum Option { LinkMax, PilotArea, Renewal, T0, T1, T2, T3, T4, T5, NoCache, Retry, Localize, Http10, OffSite, kOptions };

private:
    void ShowValue(int option, int32_t value);
    void SetInherited(int option, bool inherited);

    std::array<QCheckBox*, kOptions> inherit_{};
    std::array<QWidget*, kOptions> controls_{};
    QLineEdit* linkMax_;
    std::array<QLineEdit*, 6> timeouts_;
    QLineEdit* retry_;
    QCheckBox* noCache_;
    QCheckBox* http10_;
    QCheckBox* offSite_;
    QButtonGroup* area_;
    QButtonGroup* renewal_;
    QButtonGroup* localize_;
    std::array<QWidget*, 3> areaBox_{}, renewalBox_{}, localizeBox_{};
    CrawlOptionValues inherited_;
};

// "ﾀﾞｳﾝﾛｰﾄﾞするﾌｧｲﾙの拡張子" and, in exclusion mode, "ﾀﾞｳﾝﾛｰﾄﾞしないﾌｧｲﾙの拡張子".
class ExtFilterPage : public QWidget {
    Q_OBJECT
public:
    ExtFilterPage(bool exclusion, QWidget* parent = nullptr);
    void Load(const ExtFilterGroup& own, const ExtFilterGroup& inherited);
    ExtFilterGroup Store() const;

    QCheckBox* inheritBox() const { return inherit_; }
    QCheckBox* useBox() const { return use_; }
    QCheckBox* noExtBox() const { return noExt_; }
    QLineEdit* listEdit(int kind) const { return lists_[kind]; }

private:
    void Show(const ExtFilterGroup& group);
    void UpdateEnabled();

    QCheckBox* inherit_;
    QCheckBox* use_;
    QCheckBox* noExt_;
    std::array<QLineEdit*, kExtKindCount> lists_{};
    ExtFilterGroup own_;
    ExtFilterGroup inherited_;
};

// "ｽﾗｲﾄﾞｼｮｳの設定": the display values of a slide show; with the pickup
// choice on the settings sheet, with the "スライドショウで表示する" box in the
// item properties.
class SlideShowPage : public QWidget {
    Q_OBJECT
public:
    enum Mode { Settings, ItemBox, ListEntry };
    SlideShowPage(Mode mode, QWidget* parent = nullptr);
    void Load(const SlideSettings& values, int pickupDisplay = 1);
    std::optional<SlideSettings> Store() const;
    int pickupDisplay() const;

    QLineEdit* speedEdit() const { return speed_; }
    QLineEdit* intervalEdit() const { return interval_; }
    QLineEdit* widthEdit() const { return width_; }
    QLineEdit* heightEdit() const { return height_; }
    QListWidget* effectList() const { return effects_; }
    QGroupBox* showBox() const { return showBox_; }
    void SetColour(int bgr);

private:
    QGroupBox* showBox_ = nullptr;
    QListWidget* effects_;
    QLineEdit* speed_;
    QLineEdit* width_;
    QLineEdit* height_;
    QLineEdit* interval_;
    QCheckBox* imgTags_;
    QLabel* swatch_;
    int colour_ = 0;
    QButtonGroup* pickup_ = nullptr;
};

// The timer controls: "自動巡回タイマー設定", and the group with "タイマー巡回有効"
// on the item properties' first page.
class TimerFields : public QWidget {
    Q_OBJECT
public:
    TimerFields(bool withSwitch, QWidget* parent = nullptr);
    void Load(const TimerSettings& values);
    std::optional<TimerSettings> Store() const;

    QCheckBox* enabledBox() const { return enabled_; }
    QButtonGroup* kindGroup() const { return kind_; }
    QLineEdit* dayEdit() const { return day_; }
    QLineEdit* hourEdit() const { return hour_; }
    QLineEdit* minuteEdit() const { return minute_; }
    QLineEdit* intervalEdit() const { return interval_; }
    QComboBox* weekdayBox() const { return weekday_; }
    QCheckBox* selectedBox() const { return selected_; }
    void UpdateEnabled();

private:
    QCheckBox* enabled_ = nullptr;
    QWidget* body_;
    QButtonGroup* kind_;
    QLineEdit* day_;
    QLineEdit* hour_;
    QLineEdit* minute_;
    QLineEdit* interval_;
    QComboBox* weekday_;
    QCheckBox* selected_;
};

} // namespace ormbrook
