<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="ja_JP">
<context>
    <name>Caption</name>
    <message>
        <source>国別情報の取得中[日本]</source>
        <translation>Fetching country list [Japan]</translation>
    </message>
    <message>
        <source>国別情報の取得中[中国]</source>
        <translation>Fetching country list [China]</translation>
    </message>
    <message>
        <source>国別情報の取得中[香港]</source>
        <translation>Fetching country list [Hong Kong]</translation>
    </message>
    <message>
        <source>国別情報の取得中[台湾]</source>
        <translation>Fetching country list [Taiwan]</translation>
    </message>
    <message>
        <source>国別情報の取得中[韓国]</source>
        <translation>Fetching country list [Korea]</translation>
    </message>
    <message>
        <source>PROXY情報の取得中[Anonymous]</source>
        <translation>Fetching proxy list [Anonymous]</translation>
    </message>
    <message>
        <source>PROXY情報の取得中[Non-Anonymous]</source>
        <translation>Fetching proxy list [Non-Anonymous]</translation>
    </message>
    <message>
        <source>PROXY情報の取得中[Squid]</source>
        <translation>Fetching proxy list [Squid]</translation>
    </message>
    <message>
        <source>PROXY情報の取得中[露①]</source>
        <translation>Fetching proxy list [Russia 1]</translation>
    </message>
    <message>
        <source>PROXY情報の取得中[露②]</source>
        <translation>Fetching proxy list [Russia 2]</translation>
    </message>
    <message>
        <source>PROXY情報の取得中[加]</source>
        <translation>Fetching proxy list [Canada]</translation>
    </message>
    <message>
        <source>解析中</source>
        <translation>Analysing</translation>
    </message>
    <message>
        <source>送信中</source>
        <translation>Uploading</translation>
    </message>
    <message>
        <source>待機中</source>
        <translation>Waiting</translation>
    </message>
    <message>
        <source>解析中(%1件)</source>
        <translation>Analysing (%1 lines)</translation>
    </message>
    <message>
        <source>待機中(%1秒)</source>
        <translation>Waiting (%1 s)</translation>
    </message>
    <message>
        <source>停止中</source>
        <translation>Stopped</translation>
    </message>
</context>
<context>
    <name>palisor::Dialog</name>
    <message>
        <source>通常は変更する必要はありません。</source>
        <translation>Usually there is no need to change this.</translation>
    </message>
    <message>
        <source>通常は変更する必要がありません。</source>
        <translation>Usually there is no need to change this.</translation>
    </message>
    <message>
        <source>設定</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>制限をかけるPROXYの種類</source>
        <translation>Proxy lists to block</translation>
    </message>
    <message>
        <source>サイバーシンドローム様</source>
        <translation>Cyber Syndrome</translation>
    </message>
    <message>
        <source>海外のリスト</source>
        <translation>Lists from abroad</translation>
    </message>
    <message>
        <source>ロシア１</source>
        <translation>Russia 1</translation>
    </message>
    <message>
        <source>ロシア２</source>
        <translation>Russia 2</translation>
    </message>
    <message>
        <source>カナダ</source>
        <translation>Canada</translation>
    </message>
    <message>
        <source>FTPサーバ(制限をかけたいApacheサーバ)</source>
        <translation>FTP server (the Apache server to protect)</translation>
    </message>
    <message>
        <source>FTPサーバ (例: ftp.mysite.example )</source>
        <translation>Server (e.g. ftp.mysite.example)</translation>
    </message>
    <message>
        <source>.htaccessを置きたいサーバの名前</source>
        <translation>The name of the server that is to hold the .htaccess</translation>
    </message>
    <message>
        <source>パスワード</source>
        <translation>Password</translation>
    </message>
    <message>
        <source>格納ディレクトリ (例: /usr/home/hogehoge/public_html )</source>
        <translation>Folder on the server (e.g. /usr/home/hogehoge/public_html)</translation>
    </message>
    <message>
        <source>格納ファイル名 (通常は変更しません) (例: .htaccess )</source>
        <translation>File name (usually left as it is) (e.g. .htaccess)</translation>
    </message>
    <message>
        <source>FTP有効</source>
        <translation>Use FTP</translation>
    </message>
    <message>
        <source>編集(通常は変更しません)</source>
        <translation>Output (usually left as it is)</translation>
    </message>
    <message>
        <source>ファイルへの出力様式</source>
        <translation>Form of each line in the file</translation>
    </message>
    <message>
        <source>{PROXYアドレス}</source>
        <translation>{address}</translation>
    </message>
    <message>
        <source>制限プロクシ範囲(bit、通常32、16～32)</source>
        <translation>Mask (bits; usually 32, 16-32)</translation>
    </message>
    <message>
        <source>制限プロクシの最大数(通常:9999)</source>
        <translation>Most addresses (usually 9999)</translation>
    </message>
    <message>
        <source>その他(通常は変更しません)</source>
        <translation>Other (usually left as it is)</translation>
    </message>
    <message>
        <source>更新間隔(秒)</source>
        <translation>Interval (s)</translation>
    </message>
    <message>
        <source>PROXYは１時間おきに更新されるので３６００以下ではあまり意味がありません。</source>
        <translation>The proxy lists change once an hour: less than 3600 makes little sense.</translation>
    </message>
    <message>
        <source>ｷｬﾝｾﾙ</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>国別制御</source>
        <translation>Countries</translation>
    </message>
    <message>
        <source>リスト設定</source>
        <translation>Lists</translation>
    </message>
    <message>
        <source>注意！国別制御は出力されたファイルを「.htaccess」として使用する場合のみ指定してください。</source>
        <translation>Note: choose countries only when the file written is used as the site&apos;s &quot;.htaccess&quot;.</translation>
    </message>
    <message>
        <source>設定を保存できませんでした。
</source>
        <translation>The settings could not be saved.
</translation>
    </message>
</context>
<context>
    <name>palisor::Dialog2</name>
    <message>
        <source>日本 からのアクセスを</source>
        <translation>Access from Japan</translation>
    </message>
    <message>
        <source>中国 からのアクセスを</source>
        <translation>Access from China</translation>
    </message>
    <message>
        <source>香港 からのアクセスを</source>
        <translation>Access from Hong Kong</translation>
    </message>
    <message>
        <source>台湾 からのアクセスを</source>
        <translation>Access from Taiwan</translation>
    </message>
    <message>
        <source>韓国 からのアクセスを</source>
        <translation>Access from Korea</translation>
    </message>
    <message>
        <source>未指定</source>
        <translation>Not set</translation>
    </message>
    <message>
        <source>許可する</source>
        <translation>Allow</translation>
    </message>
    <message>
        <source>拒否する</source>
        <translation>Deny</translation>
    </message>
    <message>
        <source>国別制御</source>
        <translation>Countries</translation>
    </message>
    <message>
        <source>ｷｬﾝｾﾙ</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>palisor::Form1</name>
    <message>
        <source>開始</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>タイマーを開始します</source>
        <translation>Starts the countdown</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>タイマーを停止します。</source>
        <translation>Stops the countdown.</translation>
    </message>
    <message>
        <source>手動実行</source>
        <translation>Run now</translation>
    </message>
    <message>
        <source>すぐに実行します</source>
        <translation>Runs an update now</translation>
    </message>
    <message>
        <source>設定</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>FTPやPROXYの設定を行います</source>
        <translation>Sets up the server and the proxy lists</translation>
    </message>
    <message>
        <source>終了</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>プログラムを終了します</source>
        <translation>Ends the program</translation>
    </message>
    <message>
        <source>ウィンドウを最小化します。</source>
        <translation>Minimises the window.</translation>
    </message>
    <message>
        <source>サイトの%1に、Palisorが書いたのではない行が%2行あります。まだ何も送っていません。

残す: Palisorは「# BEGIN Palisor」から「# END Palisor」までだけを書き、ほかの行はそのまま残します。
置き換える: ファイル全体を新しいものに置き換えます。</source>
        <translation>The site&apos;s %1 has %2 lines that Palisor did not write. Nothing has been sent yet.

Keep: Palisor writes only from &quot;# BEGIN Palisor&quot; to &quot;# END Palisor&quot; and leaves the other lines as they are.
Replace: the whole file is replaced by the new one.</translation>
    </message>
    <message>
        <source>残す</source>
        <translation>Keep</translation>
    </message>
    <message>
        <source>置き換える</source>
        <translation>Replace</translation>
    </message>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>設定を保存できませんでした。
</source>
        <translation>The settings could not be saved.
</translation>
    </message>
</context>
<context>
    <name>palisor::ListDialog</name>
    <message>
        <source>日本</source>
        <translation>Japan</translation>
    </message>
    <message>
        <source>中国</source>
        <translation>China</translation>
    </message>
    <message>
        <source>香港</source>
        <translation>Hong Kong</translation>
    </message>
    <message>
        <source>台湾</source>
        <translation>Taiwan</translation>
    </message>
    <message>
        <source>韓国</source>
        <translation>Korea</translation>
    </message>
    <message>
        <source>ロシア１</source>
        <translation>Russia 1</translation>
    </message>
    <message>
        <source>ロシア２</source>
        <translation>Russia 2</translation>
    </message>
    <message>
        <source>カナダ</source>
        <translation>Canada</translation>
    </message>
    <message>
        <source>未指定</source>
        <translation>Not set</translation>
    </message>
    <message>
        <source>許可する</source>
        <translation>Allow</translation>
    </message>
    <message>
        <source>拒否する</source>
        <translation>Deny</translation>
    </message>
    <message>
        <source>毎回尋ねる</source>
        <translation>Ask each time</translation>
    </message>
    <message>
        <source>残す (keep)</source>
        <translation>Keep them (keep)</translation>
    </message>
    <message>
        <source>置き換える (replace)</source>
        <translation>Replace the file (replace)</translation>
    </message>
    <message>
        <source>リスト設定</source>
        <translation>Lists</translation>
    </message>
    <message>
        <source>リスト</source>
        <translation>Lists</translation>
    </message>
    <message>
        <source>確認と出力</source>
        <translation>Check and output</translation>
    </message>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>PROXYと海外のリスト (チェックで使用)</source>
        <translation>Proxy and overseas lists (used when ticked)</translation>
    </message>
    <message>
        <source>国別のリスト (国別制御の選択で使用)</source>
        <translation>Country lists (used as chosen under Countries)</translation>
    </message>
    <message>
        <source>許可リスト</source>
        <translation>Allow list</translation>
    </message>
    <message>
        <source>拒否リスト</source>
        <translation>Deny list</translation>
    </message>
    <message>
        <source>試す</source>
        <translation>Try</translation>
    </message>
    <message>
        <source>確認するページ (CHECKURL)</source>
        <translation>Page to check (CHECKURL)</translation>
    </message>
    <message>
        <source>サイトのページを指定します (例: https://www.mysite.example/)。送信の前後にこのページを要求し、新しいファイルでサーバエラー (500番台) になったときは元のファイルに戻します。空なら確認しません。</source>
        <translation>A page of the site (e.g. https://www.mysite.example/). It is requested before and after each upload; when the new file makes it fail with a server error (500 to 599), the previous file is put back. Empty: no check.</translation>
    </message>
    <message>
        <source>参照…</source>
        <translation>Browse…</translation>
    </message>
    <message>
        <source>追加の証明書 (CAFILE, PEM)</source>
        <translation>Extra certificates (CAFILE, PEM)</translation>
    </message>
    <message>
        <source>証明書ファイル</source>
        <translation>Certificate file</translation>
    </message>
    <message>
        <source>PEM (*.pem *.crt);;すべてのファイル (*)</source>
        <translation>PEM (*.pem *.crt);;All files (*)</translation>
    </message>
    <message>
        <source>自動 (CHARBF の形による)</source>
        <translation>Automatic (from the form of CHARBF)</translation>
    </message>
    <message>
        <source>1行のアドレス数 (PERLINE)</source>
        <translation>Addresses per line (PERLINE)</translation>
    </message>
    <message>
        <source>重なるアドレスをまとめて書く (MERGE)</source>
        <translation>Merge overlapping addresses (MERGE)</translation>
    </message>
    <message>
        <source>サイトのファイルにある自分の行 (OTHERLINES)</source>
        <translation>Your own lines in the site&apos;s file (OTHERLINES)</translation>
    </message>
    <message>
        <source>出力ファイル (LCFILE)</source>
        <translation>Output file (LCFILE)</translation>
    </message>
    <message>
        <source>行の区切り (LINESEP)</source>
        <translation>Line separator (LINESEP)</translation>
    </message>
    <message>
        <source>\n: LF、\N: CR LF、\t: タブ、\,: カンマ、\|: 縦線。改行のない区切りのファイルは送信しません。</source>
        <translation>\n: LF, \N: CR LF, \t: tab, \,: comma, \|: vertical bar. A file whose separator holds no line break is not uploaded.</translation>
    </message>
    <message>
        <source>試しています…</source>
        <translation>Trying…</translation>
    </message>
</context>
</TS>
