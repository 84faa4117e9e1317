#include "windows/settings_pages.h"


#include <QButtonGroup>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <optional>
#include <utility>

namespace ormbrook {

const char kIntegerPrompt[] = "整数を入力してください。";

namespace {

QString U(const char* text)
{
    return QString::fromUtf8(text);
}

// A number field. Where the stored value is held to a range, the field's
// tool tip says so: a value outside it is stored at the nearer end.
QLineEdit* NumberEdit(QWidget* parent, int digits = 6, std::optional<std::pair<int, int>> range = std::nullopt)
{
    auto* edit = new QLineEdit(parent);
    edit->setFixedWidth(edit->fontMetrics().horizontalAdvance(QLatin1Char('0')) * digits + 16);
    edit->setAlignment(Qt::AlignRight);
    if (range)
        edit->setToolTip(QStringLiteral("%1 から %2 まで（範囲外の値は近い方の端の値で保存されます）")
                             .arg(range->first)
                             .arg(range->second));
    return edit;
}

QCheckBox* InheritBox(QWidget* parent)
{
    return new QCheckBox(QStringLiteral("継承"), parent);
}

int Clamp(int value, int low, int high)
{
    return value < low ? low : value > high ? high : value;
}

// A radio group in a group box: the box, its buttons, and the 継承 box in
// the box's top row.
QGroupBox* RadioBox(const QString& title, const std::vector<std::pair<const char*, int>>& choices,
                    QButtonGroup*& group, QCheckBox*& inherit, std::array<QWidget*, 3>& buttons, QWidget* parent)
{
    auto* box = new QGroupBox(title, parent);
    auto* layout = new QGridLayout(box);
    group = new QButtonGroup(box);
    for (size_t i = 0; i < choices.size(); ++i) {
        auto* radio = new QRadioButton(U(choices[i].first), box);
        group->addButton(radio, choices[i].second);
        layout->addWidget(radio, static_cast<int>(i), 0);
        buttons[i] = radio;
    }
    inherit = InheritBox(box);
    layout->addWidget(inherit, 0, 1, Qt::AlignRight | Qt::AlignTop);
    layout->setColumnStretch(0, 1);
    return box;
}

} // namespace

std::optional<int> ReadInteger(QLineEdit* edit)
{
    bool ok = false;
    const int value = edit->text().trimmed().toInt(&ok);
    if (ok)
        return value;
    edit->setFocus();
    edit->selectAll();
    return std::nullopt;
}

void BoundCrawlOptions(CrawlOptionValues& v)
{
    auto bound = [](int32_t& value, int low, int high) {
        if (value != -1)
            value = Clamp(value, low, high);
    };
    bound(v.linkMax, 0, 10);
    for (int i = 0; i < 5; ++i)
        bound(v.timeouts[static_cast<size_t>(i)], 0, 3600);
    if (v.timeouts[5] != -1 && v.timeouts[5] < 0)
        v.timeouts[5] = 0;
    bound(v.retry, 0, 5);
}

CrawlOptionValues CrawlOptionsOf(const SettingsValues& s)
{
    return {s.LinkMax, s.PilotArea, s.RenewalType,
            {s.ConnectionTimeout, s.ReplyRcvTimeout, s.CtlRcvTimeout, s.DataRcvTimeout, s.CloseTimeout, s.TotalTimeout},
            s.NoCache, s.DLRetry, s.LocalizeLink, s.UseHttp10, s.RequisitesOffSite};
}

void StoreCrawlOptions(const CrawlOptionValues& o, SettingsValues& s)
{
    s.LinkMax = o.linkMax;
    s.PilotArea = o.pilotArea;
    s.RenewalType = o.renewalType;
    s.ConnectionTimeout = o.timeouts[0];
    s.ReplyRcvTimeout = o.timeouts[1];
    s.CtlRcvTimeout = o.timeouts[2];
    s.DataRcvTimeout = o.timeouts[3];
    s.CloseTimeout = o.timeouts[4];
    s.TotalTimeout = o.timeouts[5];
    s.NoCache = o.noCache;
    s.DLRetry = o.retry;
    s.LocalizeLink = o.localizeLink;
    s.UseHttp10 = o.useHttp10;
    s.RequisitesOffSite = o.requisitesOffSite;
}

CrawlOptionValues EffectiveCrawlOptions(const AppSettings& a)
{
    return {a.LinkMax(),
            a.PilotArea(),
            a.RenewalType(),
            {a.ConnectionTimeout(), a.ReplyRcvTimeout(), a.CtlRcvTimeout(), a.DataRcvTimeout(), a.CloseTimeout(),
             a.TotalTimeout()},
            a.NoCache(),
            a.DLRetry(),
            a.LocalizeLink(),
            a.UseHttp10(), a.RequisitesOffSite()};
}

// ---- 巡回 -------------------------------------------------------------------

CrawlOptionsPage::CrawlOptionsPage(QWidget* parent) : QWidget(parent)
{
    auto* grid = new QGridLayout(this);
    // Left: depth, range, update option.
    auto* depthRow = new QHBoxLayout;
    depthRow->addWidget(new QLabel(QStringLiteral("巡回するリンクの深さ"), this));
    depthRow->addSpacing(6);
    linkMax_ = NumberEdit(this, 4, std::pair(0, 10));
    depthRow->addWidget(linkMax_);
    depthRow->addStretch();
    inherit_[LinkMax] = InheritBox(this);
    depthRow->addWidget(inherit_[LinkMax]);
    controls_[LinkMax] = linkMax_;
    auto* left = new QVBoxLayout;
    left->addLayout(depthRow);
    QGroupBox* areaBox = RadioBox(QStringLiteral("巡回範囲"),
                                  {{"同サイト下位ディレクトリのみ", 0}, {"上位ディレクトリも巡回する", 1},
                                   {"他サイトも巡回する", 2}},
                                  area_, inherit_[PilotArea], areaBox_, this);
    // Beside the range, as it widens the range for the files a stored page
    // needs; with an inherit box of its own, being an option of its own.
    auto* areaGrid = static_cast<QGridLayout*>(areaBox->layout());
    offSite_ = new QCheckBox(QStringLiteral("他サイトの表示用ファイルも取得する"), areaBox);
    areaGrid->addWidget(offSite_, 3, 0);
    inherit_[OffSite] = InheritBox(areaBox);
    areaGrid->addWidget(inherit_[OffSite], 3, 1, Qt::AlignRight);
    controls_[OffSite] = offSite_;
    left->addWidget(areaBox);
    left->addWidget(RadioBox(QStringLiteral("ファイルの更新オプション"),
                             {{"全てのファイルを読込む", 1}, {"更新されたファイルを読込む", 2},
                              {"ダウンロードに失敗したファイルを読込む", 3}},
                             renewal_, inherit_[Renewal], renewalBox_, this));
    left->addStretch();

    // Right: time-outs, no cache, retries, links to files not downloaded.
    auto* timeoutBox = new QGroupBox(QStringLiteral("タイムアウト（秒）"), this);
    auto* timeoutGrid = new QGridLayout(timeoutBox);
    const char* names[] = {"Connection", "Reply Recieve", "Header", "Data Recieve", "Close", "Total"};
    for (int i = 0; i < 6; ++i) {
        timeoutGrid->addWidget(new QLabel(U(names[i]), timeoutBox), i, 0);
        // The total time-out has no upper bound.
        timeouts_[static_cast<size_t>(i)] =
            NumberEdit(timeoutBox, 6, i < 5 ? std::optional(std::pair(0, 3600)) : std::nullopt);
        timeoutGrid->addWidget(timeouts_[static_cast<size_t>(i)], i, 1);
        inherit_[T0 + i] = InheritBox(timeoutBox);
        timeoutGrid->addWidget(inherit_[T0 + i], i, 2);
        controls_[T0 + i] = timeouts_[static_cast<size_t>(i)];
    }
    timeoutGrid->setColumnStretch(0, 1);
    // One request per connection, as servers that mishandle persistent
    // connections need.
    auto* http10Row = new QHBoxLayout;
    http10_ = new QCheckBox(QStringLiteral("HTTP/1.0 で接続する"), this);
    http10Row->addWidget(http10_);
    http10Row->addStretch();
    inherit_[Http10] = InheritBox(this);
    http10Row->addWidget(inherit_[Http10]);
    controls_[Http10] = http10_;
    auto* cacheRow = new QHBoxLayout;
    noCache_ = new QCheckBox(QStringLiteral("常にオリジナルのデータを読込む"), this);
    cacheRow->addWidget(noCache_);
    cacheRow->addStretch();
    inherit_[NoCache] = InheritBox(this);
    cacheRow->addWidget(inherit_[NoCache]);
    controls_[NoCache] = noCache_;
    auto* retryRow = new QHBoxLayout;
    retryRow->addWidget(new QLabel(QStringLiteral("リトライ回数"), this));
    retryRow->addSpacing(6);
    retry_ = NumberEdit(this, 4, std::pair(0, 5));
    retryRow->addWidget(retry_);
    retryRow->addStretch();
    inherit_[Retry] = InheritBox(this);
    retryRow->addWidget(inherit_[Retry]);
    controls_[Retry] = retry_;
    auto* right = new QVBoxLayout;
    right->addWidget(timeoutBox);
    right->addLayout(http10Row);
    right->addLayout(cacheRow);
    right->addLayout(retryRow);
    right->addWidget(RadioBox(QStringLiteral("未ダウンロードファイルへのリンク"),
                              {{"オンラインへのリンクにする", 0}, {"ローカルに書き換える", 1}}, localize_,
                              inherit_[Localize], localizeBox_, this));
    right->addStretch();
    grid->addLayout(left, 0, 0);
    grid->addLayout(right, 0, 1);
    grid->setHorizontalSpacing(18);

    for (int o = 0; o < kOptions; ++o)
        connect(inherit_[o], &QCheckBox::toggled, this, [this, o](bool on) { SetInherited(o, on); });
}

void CrawlOptionsPage::ShowValue(int option, int32_t value)
{
    auto check = [](QButtonGroup* group, int id) {
        if (QAbstractButton* b = group->button(id))
            b->setChecked(true);
    };
    switch (option) {
    case LinkMax:
        linkMax_->setText(QString::number(value));
        break;
    case PilotArea:
        check(area_, value);
        break;
    case Renewal:
        check(renewal_, value);
        break;
    case NoCache:
        noCache_->setChecked(value == 1);
        break;
    case Http10:
        http10_->setChecked(value == 1);
        break;
    case Retry:
        retry_->setText(QString::number(value));
        break;
    case Localize:
        check(localize_, value);
        break;
    case OffSite:
        offSite_->setChecked(value == 1);
        break;
    default:
        timeouts_[static_cast<size_t>(option - T0)]->setText(QString::number(value));
        break;
    }
}

void CrawlOptionsPage::SetInherited(int option, bool inherited)
{
    const CrawlOptionValues& v = inherited_;
    const int32_t values[kOptions] = {v.linkMax,     v.pilotArea,   v.renewalType, v.timeouts[0], v.timeouts[1],
                                      v.timeouts[2], v.timeouts[3], v.timeouts[4], v.timeouts[5], v.noCache,
                                      v.retry,       v.localizeLink, v.useHttp10, v.requisitesOffSite};
    // Checking shows what is inherited; unchecking leaves the value shown.
    if (inherited)
        ShowValue(option, values[option]);
    std::array<QWidget*, 3>* radios = option == PilotArea ? &areaBox_
                                      : option == Renewal ? &renewalBox_
                                      : option == Localize ? &localizeBox_
                                                           : nullptr;
    if (radios) {
        for (QWidget* w : *radios)
            if (w)
                w->setEnabled(!inherited);
    } else {
        controls_[option]->setEnabled(!inherited);
    }
}

void CrawlOptionsPage::Load(const CrawlOptionValues& own, const CrawlOptionValues& inherited)
{
    inherited_ = inherited;
    const int32_t values[kOptions] = {own.linkMax,     own.pilotArea,   own.renewalType, own.timeouts[0],
                                      own.timeouts[1], own.timeouts[2], own.timeouts[3], own.timeouts[4],
                                      own.timeouts[5], own.noCache,     own.retry,       own.localizeLink,
                                      own.useHttp10, own.requisitesOffSite};
    for (int o = 0; o < kOptions; ++o) {
        const bool isInherited = values[o] == -1;
        inherit_[o]->blockSignals(true);
        inherit_[o]->setChecked(isInherited);
        inherit_[o]->blockSignals(false);
        if (!isInherited)
            ShowValue(o, values[o]);
        SetInherited(o, isInherited);
    }
}

std::optional<CrawlOptionValues> CrawlOptionsPage::Store() const
{
    CrawlOptionValues v;
    auto number = [&](int option, QLineEdit* edit, int32_t& out) {
        if (inherit_[option]->isChecked()) {
            out = -1;
            return true;
        }
        std::optional<int> n = ReadInteger(edit);
        if (!n)
            return false;
        out = *n;
        return true;
    };
    if (!number(LinkMax, linkMax_, v.linkMax))
        return std::nullopt;
    for (int i = 0; i < 6; ++i)
        if (!number(T0 + i, timeouts_[static_cast<size_t>(i)], v.timeouts[static_cast<size_t>(i)]))
            return std::nullopt;
    if (!number(Retry, retry_, v.retry))
        return std::nullopt;
    auto choice = [&](int option, QButtonGroup* group, int32_t fallback) {
        return inherit_[option]->isChecked() ? -1 : group->checkedId() >= 0 ? group->checkedId() : fallback;
    };
    v.pilotArea = choice(PilotArea, area_, 0);
    v.renewalType = choice(Renewal, renewal_, 2);
    v.localizeLink = choice(Localize, localize_, 0);
    v.noCache = inherit_[NoCache]->isChecked() ? -1 : noCache_->isChecked() ? 1 : 0;
    v.useHttp10 = inherit_[Http10]->isChecked() ? -1 : http10_->isChecked() ? 1 : 0;
    v.requisitesOffSite = inherit_[OffSite]->isChecked() ? -1 : offSite_->isChecked() ? 1 : 0;
    return v;
}

// ---- extension filters ------------------------------------------------------

ExtFilterPage::ExtFilterPage(bool exclusion, QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    use_ = new QCheckBox(QStringLiteral("フィルタ有効"), this);
    inherit_ = InheritBox(this);
    top->addWidget(use_);
    top->addStretch();
    top->addWidget(inherit_);
    layout->addLayout(top);
    auto* box = new QGroupBox(exclusion ? QStringLiteral("ﾀﾞｳﾝﾛｰﾄﾞしないﾌｧｲﾙの拡張子")
                                        : QStringLiteral("ﾀﾞｳﾝﾛｰﾄﾞするﾌｧｲﾙの拡張子"),
                              this);
    auto* form = new QFormLayout(box);
    const char* labels[] = {"html", "text", "image", "audio", "video", "application", "その他"};
    for (int k = 0; k < kExtKindCount; ++k) {
        lists_[static_cast<size_t>(k)] = new QLineEdit(box);
        form->addRow(U(labels[k]), lists_[static_cast<size_t>(k)]);
    }
    layout->addWidget(box);
    noExt_ = new QCheckBox(QStringLiteral("拡張子のないファイルも対象にする"), this);
    layout->addWidget(noExt_);
    auto* note = new QLabel(QStringLiteral("複数の拡張子を指定する場合はセミコロン ; で区切って下さい。"), this);
    note->setWordWrap(true);
    layout->addWidget(note);
    layout->addStretch();

    connect(inherit_, &QCheckBox::toggled, this, [this](bool on) {
        if (on) {
            Show(inherited_);
        } else {
            // The item's (or the settings') own lists come back; a group that
            // was never set starts switched on.
            Show(own_);
            if (own_.use == -1)
                use_->setChecked(true);
        }
        UpdateEnabled();
    });
    connect(use_, &QCheckBox::toggled, this, &ExtFilterPage::UpdateEnabled);
}

void ExtFilterPage::Show(const ExtFilterGroup& group)
{
    use_->setChecked(group.use == 1);
    noExt_->setChecked(group.noExt == 1);
    for (int k = 0; k < kExtKindCount; ++k)
        lists_[static_cast<size_t>(k)]->setText(QString::fromStdString(group.lists[static_cast<size_t>(k)]));
}

void ExtFilterPage::UpdateEnabled()
{
    const bool own = !inherit_->isChecked();
    use_->setEnabled(own);
    const bool lists = own && use_->isChecked();
    for (QLineEdit* edit : lists_)
        edit->setEnabled(lists);
    noExt_->setEnabled(lists);
}

void ExtFilterPage::Load(const ExtFilterGroup& own, const ExtFilterGroup& inherited)
{
    own_ = own;
    inherited_ = inherited;
    inherit_->blockSignals(true);
    inherit_->setChecked(own.use == -1);
    inherit_->blockSignals(false);
    Show(own.use == -1 ? inherited : own);
    UpdateEnabled();
}

ExtFilterGroup ExtFilterPage::Store() const
{
    if (inherit_->isChecked()) {
        ExtFilterGroup kept = own_;
        kept.use = -1;
        return kept;
    }
    ExtFilterGroup g;
    g.use = use_->isChecked() ? 1 : 0;
    g.noExt = noExt_->isChecked() ? 1 : 0;
    for (int k = 0; k < kExtKindCount; ++k)
        g.lists[static_cast<size_t>(k)] = lists_[static_cast<size_t>(k)]->text().toStdString();
    return g;
}

// ---- ｽﾗｲﾄﾞｼｮｳの設定 ---------------------------------------------------------

SlideShowPage::SlideShowPage(Mode mode, QWidget* parent) : QWidget(parent)
{
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(mode == ItemBox ? 0 : 9, mode == ItemBox ? 0 : 9, mode == ItemBox ? 0 : 9,
                              mode == ItemBox ? 0 : 9);
    QWidget* host = this;
    if (mode == ItemBox) {
        showBox_ = new QGroupBox(QStringLiteral("スライドショウで表示する"), this);
        showBox_->setCheckable(true);
        outer->addWidget(showBox_);
        host = showBox_;
    }
    auto* grid = new QGridLayout;
    if (mode == ItemBox) {
        auto* inner = new QVBoxLayout(host);
        inner->addLayout(grid);
    } else {
        outer->addLayout(grid);
    }

    auto* effectColumn = new QVBoxLayout;
    effectColumn->addWidget(new QLabel(QStringLiteral("化粧表示タイプ"), host));
    effects_ = new QListWidget(host);
    for (const char* name : kEffectNames)
        effects_->addItem(QString::fromLatin1(name));
    effects_->setMinimumWidth(effects_->fontMetrics().horizontalAdvance(QStringLiteral("RasterCloseH")) + 40);
    effectColumn->addWidget(effects_, 1);
    grid->addLayout(effectColumn, 0, 0, 4, 1);

    auto* form = new QFormLayout;
    speed_ = NumberEdit(host, 5, std::pair(0, 100));
    form->addRow(QStringLiteral("化粧表示スピード（秒）"), speed_);
    interval_ = NumberEdit(host, 7, std::pair(5, 86400));
    form->addRow(QStringLiteral("画像の変更間隔（秒）"), interval_);
    grid->addLayout(form, 0, 1);

    auto* sizeBox = new QGroupBox(QStringLiteral("表示画像の最小サイズ"), host);
    auto* sizeGrid = new QGridLayout(sizeBox);
    width_ = NumberEdit(sizeBox, 5, std::pair(0, 640));
    height_ = NumberEdit(sizeBox, 5, std::pair(0, 480));
    sizeGrid->addWidget(new QLabel(QStringLiteral("幅"), sizeBox), 0, 0);
    sizeGrid->addWidget(width_, 0, 1);
    sizeGrid->addWidget(new QLabel(QStringLiteral("pixel"), sizeBox), 0, 2);
    sizeGrid->addWidget(new QLabel(QStringLiteral("高さ"), sizeBox), 1, 0);
    sizeGrid->addWidget(height_, 1, 1);
    sizeGrid->addWidget(new QLabel(QStringLiteral("pixel"), sizeBox), 1, 2);
    sizeGrid->setColumnStretch(3, 1);
    grid->addWidget(sizeBox, 1, 1);

    auto* colourRow = new QHBoxLayout;
    colourRow->addWidget(new QLabel(QStringLiteral("背景色"), host));
    swatch_ = new QLabel(host);
    swatch_->setFixedSize(48, 22);
    swatch_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    swatch_->setAutoFillBackground(true);
    colourRow->addWidget(swatch_);
    auto* change = new QPushButton(QStringLiteral("色の変更"), host);
    colourRow->addWidget(change);
    colourRow->addStretch();
    grid->addLayout(colourRow, 2, 1);
    connect(change, &QPushButton::clicked, this, [this] {
        const QColor chosen = QColorDialog::getColor(
            QColor(colour_ & 0xFF, (colour_ >> 8) & 0xFF, (colour_ >> 16) & 0xFF), window(),
            QStringLiteral("色の変更"));
        if (chosen.isValid())
            SetColour(chosen.red() | chosen.green() << 8 | chosen.blue() << 16);
    });

    imgTags_ = new QCheckBox(QStringLiteral("IMG タグの画像を表示する"), host);
    grid->addWidget(imgTags_, 3, 1);

    if (mode == Settings) {
        auto* pickupBox = new QGroupBox(QStringLiteral("ピックアップ画像の表示"), this);
        auto* pickupLayout = new QVBoxLayout(pickupBox);
        pickup_ = new QButtonGroup(pickupBox);
        const char* choices[] = {"一般の画像のみ", "ピックアップ画像と一般の画像", "ピックアップ画像のみ"};
        for (int i = 0; i < 3; ++i) {
            auto* radio = new QRadioButton(U(choices[i]), pickupBox);
            pickup_->addButton(radio, i);
            pickupLayout->addWidget(radio);
        }
        grid->addWidget(pickupBox, 4, 0, 1, 2);
    }
    grid->setColumnStretch(1, 1);
    if (mode != ItemBox)
        outer->addStretch();
}

void SlideShowPage::SetColour(int bgr)
{
    colour_ = bgr;
    QPalette p = swatch_->palette();
    p.setColor(QPalette::Window, QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF));
    swatch_->setPalette(p);
}

void SlideShowPage::Load(const SlideSettings& v, int pickupDisplay)
{
    if (showBox_)
        showBox_->setChecked(v.enabled);
    effects_->setCurrentRow(Clamp(v.effect, 0, static_cast<int>(kEffectNames.size()) - 1));
    speed_->setText(QString::number(v.speed));
    interval_->setText(QString::number(v.interval));
    width_->setText(QString::number(v.minWidth));
    height_->setText(QString::number(v.minHeight));
    imgTags_->setChecked(v.showImgTags);
    SetColour(v.backColor);
    if (pickup_ && pickup_->button(pickupDisplay))
        pickup_->button(pickupDisplay)->setChecked(true);
}

std::optional<SlideSettings> SlideShowPage::Store() const
{
    SlideSettings v;
    v.enabled = showBox_ ? showBox_->isChecked() : true;
    v.effect = std::max(0, effects_->currentRow());
    for (auto [edit, out] : {std::pair{speed_, &v.speed}, std::pair{interval_, &v.interval},
                             std::pair{width_, &v.minWidth}, std::pair{height_, &v.minHeight}}) {
        std::optional<int> n = ReadInteger(edit);
        if (!n)
            return std::nullopt;
        *out = *n;
    }
    v.showImgTags = imgTags_->isChecked();
    v.backColor = colour_;
    return v;
}

int SlideShowPage::pickupDisplay() const
{
    return pickup_ && pickup_->checkedId() >= 0 ? pickup_->checkedId() : 1;
}

// ---- timer fields -------------------------------------------------------------

TimerFields::TimerFields(bool withSwitch, QWidget* parent) : QWidget(parent)
{
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    if (withSwitch) {
        enabled_ = new QCheckBox(QStringLiteral("タイマー巡回有効"), this);
        outer->addWidget(enabled_);
    }
    body_ = new QWidget(this);
    outer->addWidget(body_);
    auto* grid = new QGridLayout(body_);
    grid->setContentsMargins(withSwitch ? 18 : 0, 0, 0, 0);
    kind_ = new QButtonGroup(this);
    const char* kinds[] = {"毎月", "毎週", "毎日", "インターバル指定"};
    for (int i = 0; i < 4; ++i) {
        auto* radio = new QRadioButton(U(kinds[i]), body_);
        kind_->addButton(radio, TimerMonthly + i);
        grid->addWidget(radio, i, 0);
    }
    day_ = NumberEdit(body_, 3, std::pair(1, 31));
    hour_ = NumberEdit(body_, 3, std::pair(0, 23));
    minute_ = NumberEdit(body_, 3, std::pair(0, 59));
    interval_ = NumberEdit(body_, 5, std::pair(10, 1440));
    weekday_ = new QComboBox(body_);
    for (const char* name : {"月曜", "火曜", "水曜", "木曜", "金曜", "土曜", "日曜"})
        weekday_->addItem(U(name));
    // Day beside 毎月, weekday beside 毎週; the time serves the first three.
    auto* dayRow = new QHBoxLayout;
    dayRow->addWidget(day_);
    dayRow->addWidget(new QLabel(QStringLiteral("日"), body_));
    dayRow->addStretch();
    grid->addLayout(dayRow, 0, 1);
    grid->addWidget(weekday_, 1, 1, Qt::AlignLeft);
    auto* timeRow = new QHBoxLayout;
    timeRow->addWidget(hour_);
    timeRow->addWidget(new QLabel(QStringLiteral("時"), body_));
    timeRow->addWidget(minute_);
    timeRow->addWidget(new QLabel(QStringLiteral("分"), body_));
    timeRow->addStretch();
    grid->addLayout(timeRow, 0, 2, 3, 1, Qt::AlignVCenter);
    auto* intervalRow = new QHBoxLayout;
    intervalRow->addWidget(interval_);
    intervalRow->addWidget(new QLabel(QStringLiteral("時間毎"), body_));
    intervalRow->addStretch();
    grid->addLayout(intervalRow, 3, 1, 1, 2);
    selected_ = new QCheckBox(withSwitch ? QStringLiteral("選択されたアイテムのみ巡回する")
                                         : QStringLiteral("選択巡回有効"),
                              body_);
    grid->addWidget(selected_, 4, 0, 1, 3);
    grid->setColumnStretch(2, 1);
    grid->setHorizontalSpacing(12);

    connect(kind_, &QButtonGroup::idClicked, this, &TimerFields::UpdateEnabled);
    if (enabled_)
        connect(enabled_, &QCheckBox::toggled, this, &TimerFields::UpdateEnabled);
}

void TimerFields::UpdateEnabled()
{
    const bool on = !enabled_ || enabled_->isChecked();
    body_->setEnabled(on);
    const int kind = kind_->checkedId();
    day_->setEnabled(kind == TimerMonthly);
    weekday_->setEnabled(kind == TimerWeekly);
    hour_->setEnabled(kind == TimerMonthly || kind == TimerWeekly || kind == TimerDaily);
    minute_->setEnabled(hour_->isEnabled());
    interval_->setEnabled(kind == TimerInterval);
}

void TimerFields::Load(const TimerSettings& v)
{
    if (enabled_)
        enabled_->setChecked(v.enabled);
    if (QAbstractButton* b = kind_->button(v.kind))
        b->setChecked(true);
    else
        kind_->button(TimerMonthly)->setChecked(true);
    day_->setText(QString::number(v.day));
    hour_->setText(QString::number(v.hour));
    minute_->setText(QString::number(v.minute));
    interval_->setText(QString::number(v.intervalMinutes));
    weekday_->setCurrentIndex(Clamp(v.weekday, 0, 6));
    selected_->setChecked(v.selected);
    UpdateEnabled();
}

std::optional<TimerSettings> TimerFields::Store() const
{
    TimerSettings v;
    v.enabled = !enabled_ || enabled_->isChecked();
    v.kind = kind_->checkedId() >= 0 ? kind_->checkedId() : TimerMonthly;
    v.weekday = weekday_->currentIndex();
    v.selected = selected_->isChecked();
    // Only what the page uses is read: a timer that is off keeps no fields.
    if (!v.enabled)
        return v;
    for (auto [edit, out] : {std::pair{day_, &v.day}, std::pair{hour_, &v.hour}, std::pair{minute_, &v.minute},
                             std::pair{interval_, &v.intervalMinutes}}) {
        if (!edit->isEnabled()) {
            bool ok = false;
            const int shown = edit->text().toInt(&ok);
            *out = ok ? shown : *out;
            continue;
        }
        std::optional<int> n = ReadInteger(edit);
        if (!n)
            return std::nullopt;
        *out = *n;
    }
    v.day = Clamp(v.day, 1, 31);
    v.hour = Clamp(v.hour, 0, 23);
    v.minute = Clamp(v.minute, 0, 59);
    v.intervalMinutes = Clamp(v.intervalMinutes, 10, 1440);
    return v;
}

} // namespace ormbrook
