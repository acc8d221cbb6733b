#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "settings/Settings.h"

namespace palisor {

// One key of palisor.ini beside the lists' keys: where it lives, the text it takes when absent,
// where the user edits it and what it does, as the loader, the sample file and the messages
// use it.
struct SettingKey {
  std::string_view section;
  std::string_view name;
  std::string_view fallback;
  std::string_view field;  // the dialog field that edits it; empty for a key edited by hand only
  std::string_view what;   // one line
};

// Where the lists' keys are edited.
inline constexpr std::string_view kListDialogField = "設定 → リスト設定";
inline constexpr std::string_view kCountryModeField = "設定 → 国別制御";
inline constexpr std::string_view kListOnOffField = "設定 → 制限をかけるPROXYの種類";

namespace keys {

inline constexpr SettingKey FTPSW{
    "FTP", "FTPSW", "1", "設定 → FTP有効",
    "1 uploads the access file after every run, 0 only writes it locally"};
inline constexpr SettingKey SVNAME{
    "FTP", "SVNAME", "", "設定 → FTPサーバ",
    "the site's server: host (plain FTP), ftpes://host, ftps://host or sftp://host, :port after "
    "the host if needed"};
inline constexpr SettingKey SVUSER{"FTP", "SVUSER", "", "設定 → UserID",
                                   "the user name on the server"};
inline constexpr SettingKey SVPSWD{
    "FTP", "SVPSWD", "", "設定 → パスワード",
    "the password on the server; this file stays readable by its owner only"};
inline constexpr SettingKey SVPATH{
    "FTP", "SVPATH", "", "設定 → 格納ディレクトリ",
    "the folder on the server the file goes to, /usr/home/me/public_html; empty: the root"};
inline constexpr SettingKey SVFILE{"FTP", "SVFILE", ".htaccess", "設定 → 格納ファイル名",
                                   "the file's name on the server"};
inline constexpr SettingKey LCFILE{
    "FTP", "LCFILE", kDefaultOutputFile, kListDialogField,
    "the access file written in this folder (or a path); it is what gets uploaded"};
inline constexpr SettingKey CHECKURL{
    "FTP", "CHECKURL", "", kListDialogField,
    "a page of the site asked before and after each upload: a new 5xx puts the previous file "
    "back; empty: no check"};
inline constexpr SettingKey CAFILE{
    "FTP", "CAFILE", "", kListDialogField,
    "a PEM file of certificates trusted beside the system's, for a server with its own; empty: "
    "none"};
inline constexpr SettingKey OTHERLINES{
    "FTP", "OTHERLINES", "", kListDialogField,
    "lines of your own in the site's file: keep (Palisor replaces only its block), replace, or "
    "empty to be asked"};
inline constexpr SettingKey TMINT{
    "ETC", "TMINT", "3600", "設定 → 更新間隔(秒)",
    "seconds between the window's updates, 60 to 32767 (beyond: the nearer limit)"};
inline constexpr SettingKey SPC_PREV{
    "ETC", "SPC_PREV", "0", "", "1 joins CHARBF to the address without the space between them"};
inline constexpr SettingKey SPC_NEXT{
    "ETC", "SPC_NEXT", "0", "", "1 joins CHARAF to the address without the space between them"};
inline constexpr SettingKey HOST2IP{"ETC", "HOST2IP", "0", "",
                                    "not used any more; older files have it"};
inline constexpr SettingKey LISTMAX{
    "URL", "LISTMAX", "9999", "設定 → 制限プロクシの最大数",
    "at most this many entries are written (1 or more); the rest are left out with a warning"};
inline constexpr SettingKey MASK{
    "URL", "MASK", "32", "設定 → 制限プロクシ範囲",
    "16 to 32: each IPv4 proxy address becomes its network of this length (anything else: 32)"};
inline constexpr SettingKey CHARBF{
    "EDIT", "CHARBF", "deny from", "設定 → ファイルへの出力様式",
    "the text before each address; \"Require not ip\" is Apache 2.4's own form"};
inline constexpr SettingKey CHARAF{"EDIT", "CHARAF", "", "設定 → ファイルへの出力様式",
                                   "the text after each address"};
inline constexpr SettingKey LINESEP{
    "EDIT", "LINESEP", "\\n", kListDialogField,
    "the line end: \\n (LF) or \\N (CR LF); \\t, \\, and \\| join lines, which Apache cannot "
    "read"};
inline constexpr SettingKey PERLINE{
    "EDIT", "PERLINE", "", kListDialogField,
    "addresses to a line, 1 to 500; empty: 1, or 100 when CHARBF begins with Require"};
inline constexpr SettingKey MERGE{"EDIT", "MERGE", "0", kListDialogField,
                                  "1 writes the fewest networks that cover the same addresses"};

}  // namespace keys

// Where to set a key: "設定 → FTPサーバ (SVNAME in palisor.ini)", or "SPC_PREV in
// palisor.ini" for a key without a field.
std::string WhereToSet(std::string_view field, std::string_view key);
std::string WhereToSet(const SettingKey& key);

// The key a list's address is read from: URL1, or a country's allow or deny key as its mode
// chooses (the allow key for a mode that chooses neither).
std::string_view AddressKeyOf(const ListSource& source, std::int16_t mode);

}  // namespace palisor
