#include "windows/commands.h"

namespace ormbrook {

namespace {

using I = CommandIcon;

constexpr CommandInfo kTable[] = {
    {CmdFileNew, "新規作成(&N)\tCtrl+N", "新規にﾌｧｲﾙを作成", "新規ﾌｧｲﾙ", "Ctrl+N", I::New, false},
    {CmdFileOpen, "開く(&O)...\tCtrl+O", "既存のﾌｧｲﾙを開く", "開く", "Ctrl+O", I::Open, false},
    {CmdFileClose, "閉じる(&C)", "作業中のﾌｧｲﾙを閉じる", "閉じる", "", I::None, false},
    {CmdFileSave, "上書き保存(&S)\tCtrl+S", "作業中のﾌｧｲﾙを保存", "保存", "Ctrl+S", I::Save, false},
    {CmdFileSaveAs, "名前を付けて保存(&A)...", "作業中のﾌｧｲﾙに名前を付けて保存", "名前をつけて保存", "", I::None, false},
    {CmdSettings, "アプリケーションの設定", "アプリケーションの設定を行います", "設定", "", I::Settings, false},
    {CmdAppExit, "ｱﾌﾟﾘｹｰｼｮﾝの終了(&X)", "ｱﾌﾟﾘｹｰｼｮﾝを終了し、ﾌｧｲﾙの保存を指示", "終了", "", I::None, false},
    {CmdNewFolder, "新規フォルダ", "選択されているフォルダの下に新しいフォルダを作成します", "フォルダ作成", "",
     I::NewFolder, false},
    {CmdNewUrl, "新規 URL", "選択されているフォルダの下に新しい URL を作成します", "URL 作成", "", I::NewUrl, false},
    {CmdUrlFromBrowser, "ﾌﾞﾗｳｻﾞからURL取込み",
     "選択されているフォルダの下にWWWブラウザで表示しているURLを追加します", "ブラウザからURL取込み", "",
     I::UrlFromBrowser, false},
    {CmdDelete, "削除(&D)Ctrl+D", "選択されているフォルダ，URL を削除します", "フォルダ，URL削除", "", I::Delete, false},
    {CmdItemProperties, "アイテムのプロパティ", "ｱｲﾃﾑのﾌﾟﾛﾊﾟﾃｨを編集します", "ｱｲﾃﾑﾌﾟﾛﾊﾟﾃｨ", "", I::Properties,
     false},
    {CmdDeleteSaved, "保存データ削除",
     "選択されたフォルダまたは URL に対応するダウンロード済みファイルを削除します", "保存データ削除", "",
     I::DeleteSaved, false},
    {CmdMoveSaved, "保存データ移動",
     "選択されたフォルダまたは URL に対応するダウンロード済みファイルを別のフォルダに移動します", "保存データ移動",
     "", I::MoveSaved, false},
    {CmdCopySaved, "保存データコピー",
     "選択されたフォルダまたは URL に対応するダウンロード済みファイルを別のフォルダにコピーします",
     "保存データコピー", "", I::CopySaved, false},
    {CmdCrawl, "巡回実行", "巡回を開始します", "巡回", "", I::Crawl, false},
    {CmdSelectedCrawl, "選択巡回実行", "選択巡回を開始します", "選択巡回", "", I::SelectedCrawl, false},
    {CmdStop, "巡回中断", "巡回を中断します", "巡回中断", "", I::Stop, false},
    {CmdResetCrawl, "巡回状態リセット", "巡回状態をリセットします。", "巡回状態リセット", "", I::ResetCrawl, false},
    {CmdFailedUrls, "失敗した URL...", "最後の巡回で取得に失敗した URL とその理由を一覧します", "", "", I::None,
     false},
    {CmdTimerValid, "タイマー有効", "設定されている全てのタイマーの有効／無効を切換えます", "ﾀｲﾏｰSW", "",
     I::TimerOn, true},
    {CmdTimerList, "タイマー一覧", "", "", "", I::None, false},
    {CmdShowInBrowser, "ブラウザで表示", "選択されているアイテムをブラウザで表示します。", "ﾌﾞﾗｳｻﾞ起動", "",
     I::ShowInBrowser, false},
    {CmdSlideShowList, "スライドショウ一覧", "", "", "", I::None, false},
    {CmdSlideShowReset, "ｽﾗｲﾄﾞｼｮｳ ﾘｾｯﾄ", "ｽﾗｲﾄﾞｼｮｳの巡回状態をﾘｾｯﾄします", "ｽﾗｲﾄﾞｼｮｳﾘｾｯﾄ", "", I::SlideReset,
     false},
    {CmdWallpaperChanger, "壁紙チェンジャーON", "壁紙ﾁｪﾝｼﾞｬｰの ON/OFF 切換えを行います。", "壁紙ﾁｪﾝｼﾞｬｰSW", "",
     I::Wallpaper, true},
    {CmdSlideWindow, "小窓ON", "ｽﾗｲﾄﾞｼｮｳｳｨﾝﾄﾞｳの ON/OFF を切換えます。", "ｽﾗｲﾄﾞｼｮｳｳｨﾝﾄﾞｳSW", "",
     I::SlideWindow, true},
    {CmdPickupOrdinary, "一般の画像のみ表示", "", "", "", I::None, true},
    {CmdPickupBoth, "両方とも表示", "", "", "", I::None, true},
    {CmdPickupOnly, "ピックアップ画像のみ表示", "", "", "", I::None, true},
    {CmdShowWindow, "ｳｨﾝﾄﾞｳを表示", "ｳｨﾝﾄﾞｳを非表示にします", "ｳｨﾝﾄﾞｳOFF", "", I::ShowWindow, true},
    {CmdAbout, "バージョン情報(&A)...", "ﾌﾟﾛｸﾞﾗﾑの情報、ﾊﾞｰｼﾞｮﾝ、著作権を表示", "ﾊﾞｰｼﾞｮﾝ情報", "", I::About,
     false},
    {CmdHelp, "ヘルプ(&H)\tF1", "ﾍﾙﾌﾟを表示", "ﾍﾙﾌﾟ", "F1", I::None, false},
    {CmdContextHelp, "ヘルプの対象(&W)\tShift+F1", "ｸﾘｯｸしたﾎﾞﾀﾝ、ﾒﾆｭｰ、ｳｨﾝﾄﾞｳのﾍﾙﾌﾟを表示", "ﾍﾙﾌﾟ",
     "Shift+F1", I::ContextHelp, false},
    {CmdNextPane, "次のペイン", "次のｳｨﾝﾄﾞｳ ﾍﾟｲﾝに切り替え", "次のﾍﾟｲﾝ", "F6", I::None, false},
    {CmdPrevPane, "前のペイン", "前のｳｨﾝﾄﾞｳ ﾍﾟｲﾝに戻る", "前のﾍﾟｲﾝ", "Shift+F6", I::None, false},
};

bool FolderOrRoot(NodeKind node)
{
    return node == NodeKind::Folder || node == NodeKind::Root;
}

bool IsItem(NodeKind node)
{
    return node == NodeKind::Record || node == NodeKind::Folder || node == NodeKind::Root;
}

// The tree may be edited only while nothing reads its pictures from the
// mirror and no crawl works on it.
bool TreeEditable(const CommandState& s)
{
    return s.projectOpen && !s.crawling && !s.saverRunning && !s.slideWindowRunning && !s.desktopMode
        && !s.desktopStopping;
}

} // namespace

std::span<const CommandInfo> CommandTable()
{
    return kTable;
}

const CommandInfo* FindCommand(CommandId id)
{
    for (const CommandInfo& info : kTable)
        if (info.id == id)
            return &info;
    return nullptr;
}

const std::array<int, 29> kToolbarOrder = {
    CmdFileNew, CmdFileOpen, CmdFileSave, 0,
    CmdNewFolder, CmdNewUrl, CmdUrlFromBrowser, CmdDelete, CmdItemProperties, 0,
    CmdCrawl, CmdSelectedCrawl, CmdStop, CmdResetCrawl, CmdTimerValid, 0,
    CmdDeleteSaved, CmdMoveSaved, CmdCopySaved, 0,
    CmdShowInBrowser, CmdWallpaperChanger, CmdSlideWindow, CmdShowWindow, CmdSlideShowReset, 0,
    CmdSettings, CmdAbout, CmdContextHelp,
};

const std::array<TrayMenuItem, 6> kTrayMenu = {{
    {CmdShowWindow, "ウィンドウを表示"},
    {CmdTimerValid, "巡回タイマー ON"},
    {CmdWallpaperChanger, "壁紙チェンジャー ON"},
    {CmdSlideWindow, "小窓で画像表示"},
    {CmdHelp, "ヘルプ"},
    {CmdAppExit, "終了"},
}};

bool CommandEnabled(CommandId id, const CommandState& s)
{
    switch (id) {
    case CmdFileClose:
        // Refused with a message while the project crawls.
        return s.projectOpen;
    case CmdFileSave:
    case CmdFileSaveAs:
        // A crawl writes record titles into the tree on its own thread.
        return s.projectOpen && !s.crawling;
    case CmdCrawl:
    case CmdSelectedCrawl:
    case CmdResetCrawl:
        return s.projectOpen && !s.crawling;
    case CmdStop:
        return s.projectOpen && s.crawling;
    case CmdFailedUrls:
        return s.projectOpen;
    case CmdNewFolder:
    case CmdNewUrl:
    case CmdUrlFromBrowser:
        return TreeEditable(s) && FolderOrRoot(s.node);
    case CmdDelete:
        return TreeEditable(s) && (s.node == NodeKind::Record || s.node == NodeKind::Folder);
    case CmdDeleteSaved:
    case CmdMoveSaved:
    case CmdCopySaved:
        return TreeEditable(s) && IsItem(s.node);
    case CmdItemProperties:
        return s.projectOpen && !s.crawling && IsItem(s.node);
    case CmdShowInBrowser:
        return s.projectOpen && !s.crawling && (s.node == NodeKind::Record || s.node == NodeKind::File);
    case CmdWallpaperChanger:
        // Until the desktop confirms the stop, switching on again would race it.
        return !s.desktopStopping;
    case CmdSlideShowReset:
        // The cycle's history is only cleared while no viewer shows pictures.
        return !s.saverRunning && !s.slideWindowRunning && !s.desktopMode;
    default:
        return true;
    }
}

std::optional<bool> CommandChecked(CommandId id, const CommandState& s)
{
    switch (id) {
    case CmdTimerValid:
        return s.timerValid;
    case CmdPickupOrdinary:
        return s.pickupDisplay == 0;
    case CmdPickupBoth:
        return s.pickupDisplay == 1;
    case CmdPickupOnly:
        return s.pickupDisplay == 2;
    case CmdWallpaperChanger:
        return s.desktopMode;
    case CmdSlideWindow:
        return s.slideWindowRunning;
    case CmdShowWindow:
        return s.windowVisible;
    default:
        return std::nullopt;
    }
}

} // namespace ormbrook
