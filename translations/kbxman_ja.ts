<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja_JP">
<context>
    <name>Confirmer</name>
    <message>
        <source>Confirm</source>
        <translation>確認</translation>
    </message>
    <message>
        <source>Do&amp;n&apos;t ask again</source>
        <translation>今後は確認しない(&amp;N)</translation>
    </message>
</context>
<context>
    <name>ErrorReporter</name>
    <message>
        <source>Error</source>
        <translation>エラー</translation>
    </message>
</context>
<context>
    <name>HelpDialogs</name>
    <message>
        <source>&lt;h2&gt;kbxman&lt;/h2&gt;&lt;p&gt;kbxman moves music data between the ZR-7316 keyboard and the computer, over one MIDI output cabled to the keyboard&apos;s input and one MIDI input cabled to its output.&lt;/p&gt;&lt;h3&gt;The window&lt;/h3&gt;&lt;p&gt;Above: the computer&apos;s folders and files. Below: the keyboard as a drive with the folders Tone:, DSP:, Registration: (four banks) and Song Rhythm: (Song, Rhythm). The column No. counts the slots of a folder from 1. An item whose name is blank shows &lt;i&gt;(no name)&lt;/i&gt;. The bar under the keyboard list shows the song memory and whether the selected song or rhythm file fits into the selected slot.&lt;/p&gt;&lt;h3&gt;Working with the keyboard&lt;/h3&gt;&lt;ul&gt;&lt;li&gt;&lt;b&gt;Get/Update List&lt;/b&gt; (F5) reads what the keyboard stores.&lt;/li&gt;&lt;li&gt;&lt;b&gt;Import&lt;/b&gt; writes the selected keyboard item into the folder shown above.&lt;/li&gt;&lt;li&gt;&lt;b&gt;Send&lt;/b&gt; sends the selected file into the selected keyboard slot.&lt;/li&gt;&lt;li&gt;&lt;b&gt;Delete&lt;/b&gt; (Del in the keyboard pane) empties a song or rhythm slot.&lt;/li&gt;&lt;li&gt;Dragging an item from one pane to the other imports or sends it.&lt;/li&gt;&lt;/ul&gt;&lt;p&gt;Before a delete, or a send that replaces a song or rhythm, kbxman asks. While the history keeps copies (Preference, page Safety), the question can be switched off there and Edit &amp;gt; Undo (Ctrl+Z) brings the old item back; without the history it is always asked. When an action ends, the status bar says how.&lt;/p&gt;&lt;h3&gt;Keys&lt;/h3&gt;&lt;table&gt;&lt;tr&gt;&lt;td&gt;F5&lt;/td&gt;&lt;td&gt;Get/Update List&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td&gt;Alt+L, Alt+I, Alt+S, Alt+D, Alt+R&lt;/td&gt;&lt;td&gt;List, Import, Send, Delete, Retrieve&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td&gt;Esc&lt;/td&gt;&lt;td&gt;Cancel the running action&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td&gt;Ctrl+Z&lt;/td&gt;&lt;td&gt;Undo&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td&gt;Ctrl+H&lt;/td&gt;&lt;td&gt;History&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td&gt;Ctrl+M&lt;/td&gt;&lt;td&gt;MIDI Monitor&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td&gt;Ctrl+,&lt;/td&gt;&lt;td&gt;Preference&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td&gt;Alt+Enter&lt;/td&gt;&lt;td&gt;Properties&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td&gt;Ctrl+1 to Ctrl+4&lt;/td&gt;&lt;td&gt;Keyboard list view styles&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td&gt;F2, Del, Ctrl+Shift+N, Backspace&lt;/td&gt;&lt;td&gt;In the upper list: rename, move to the trash, new folder, up one folder&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td&gt;F1&lt;/td&gt;&lt;td&gt;This manual&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td&gt;Ctrl+Q&lt;/td&gt;&lt;td&gt;Exit&lt;/td&gt;&lt;/tr&gt;&lt;/table&gt;&lt;h3&gt;Command line&lt;/h3&gt;&lt;p&gt;&lt;tt&gt;kbxtool&lt;/tt&gt; does the same from a terminal; see kbxtool(1) and kbxman(1).&lt;/p&gt;</source>
        <translation>&lt;h2&gt;kbxman&lt;/h2&gt;&lt;p&gt;kbxman は ZR-7316 とコンピューターの間でミュージックデータをやり取りします。キーボードの MIDI IN につないだ MIDI 出力と、MIDI OUT につないだ MIDI 入力を 1 つずつ使います。&lt;/p&gt;&lt;h3&gt;ウィンドウ&lt;/h3&gt;&lt;p&gt;上はコンピューターのフォルダーとファイル、下はキーボードをドライブとして表示します(フォルダー Tone:、DSP:、Registration: (4 バンク)、Song Rhythm: (Song、Rhythm))。「番号」の列はフォルダー内のスロットを 1 から数えます。名前が空白だけのアイテムは &lt;i&gt;(名前なし)&lt;/i&gt; と表示されます。キーボード一覧の下のバーは、ソングメモリーの使用量と、選択したソングまたはリズムのファイルが選択したスロットに入るかどうかを示します。&lt;/p&gt;&lt;h3&gt;キーボードでの作業&lt;/h3&gt;&lt;ul&gt;&lt;li&gt;&lt;b&gt;一覧の取得/更新&lt;/b&gt; (F5) でキーボードに保存されている内容を読み込みます。&lt;/li&gt;&lt;li&gt;&lt;b&gt;受信&lt;/b&gt; は選択したキーボードのアイテムを上に表示中のフォルダーに書き込みます。&lt;/li&gt;&lt;li&gt;&lt;b&gt;送信&lt;/b&gt; は選択したファイルを選択したキーボードのスロットに送ります。&lt;/li&gt;&lt;li&gt;&lt;b&gt;削除&lt;/b&gt; (キーボード側で Del) はソングまたはリズムのスロットを空にします。&lt;/li&gt;&lt;li&gt;アイテムを一方の枠からもう一方へドラッグすると、受信または送信になります。&lt;/li&gt;&lt;/ul&gt;&lt;p&gt;削除の前と、ソングやリズムを置き換える送信の前には確認します。履歴にコピーを残す設定 (環境設定の「安全」ページ) の間は、そこで確認を止めることができ、編集 &amp;gt; 元に戻す (Ctrl+Z) で前のアイテムを戻せます。履歴がオフのときは必ず確認します。操作が終わると、ステータスバーに結果が表示されます。&lt;/p&gt;&lt;h3&gt;キー&lt;/h3&gt;&lt;table&gt;&lt;tr&gt;&lt;td&gt;F5&lt;/td&gt;&lt;td&gt;一覧の取得/更新&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td&gt;Alt+L, Alt+I, Alt+S, Alt+D, Alt+R&lt;/td&gt;&lt;td&gt;一覧、受信、送信、削除、取り出し&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td&gt;Esc&lt;/td&gt;&lt;td&gt;実行中の操作を中止&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td&gt;Ctrl+Z&lt;/td&gt;&lt;td&gt;元に戻す&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td&gt;Ctrl+H&lt;/td&gt;&lt;td&gt;履歴&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td&gt;Ctrl+M&lt;/td&gt;&lt;td&gt;MIDI モニター&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td&gt;Ctrl+,&lt;/td&gt;&lt;td&gt;環境設定&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td&gt;Alt+Enter&lt;/td&gt;&lt;td&gt;プロパティ&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td&gt;Ctrl+1 ～ Ctrl+4&lt;/td&gt;&lt;td&gt;キーボード一覧の表示形式&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td&gt;F2, Del, Ctrl+Shift+N, Backspace&lt;/td&gt;&lt;td&gt;上の一覧で: 名前の変更、ごみ箱へ移動、新しいフォルダー、1 つ上のフォルダーへ&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td&gt;F1&lt;/td&gt;&lt;td&gt;このマニュアル&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td&gt;Ctrl+Q&lt;/td&gt;&lt;td&gt;終了&lt;/td&gt;&lt;/tr&gt;&lt;/table&gt;&lt;h3&gt;コマンドライン&lt;/h3&gt;&lt;p&gt;&lt;tt&gt;kbxtool&lt;/tt&gt; で同じことを端末から行えます。kbxtool(1) と kbxman(1) を参照してください。&lt;/p&gt;</translation>
    </message>
    <message>
        <source>&lt;p&gt;&lt;b&gt;%1&lt;/b&gt;&lt;/p&gt;&lt;p&gt;ZR-7316 music data management software.&lt;/p&gt;&lt;p&gt;Licence: GNU General Public License, version 3 or later (GPL-3.0-or-later).&lt;/p&gt;&lt;p&gt;Qt %2, RtMidi %3&lt;/p&gt;</source>
        <translation>&lt;p&gt;&lt;b&gt;%1&lt;/b&gt;&lt;/p&gt;&lt;p&gt;ZR-7316 ミュージックデータ管理ソフトウェア&lt;/p&gt;&lt;p&gt;ライセンス: GNU 一般公衆利用許諾書 バージョン 3 以降 (GPL-3.0-or-later)&lt;/p&gt;&lt;p&gt;Qt %2、RtMidi %3&lt;/p&gt;</translation>
    </message>
    <message>
        <source>kbxman Manual</source>
        <translation>kbxman マニュアル</translation>
    </message>
    <message>
        <source>About kbxman</source>
        <translation>kbxman について</translation>
    </message>
</context>
<context>
    <name>KbdActionController</name>
    <message>
        <source>Undo &amp;Older Change</source>
        <translation>さらに前の変更を元に戻す(&amp;O)</translation>
    </message>
    <message>
        <source>&amp;Replace</source>
        <translation>置き換える(&amp;R)</translation>
    </message>
    <message>
        <source>&amp;Delete</source>
        <translation>削除(&amp;D)</translation>
    </message>
    <message>
        <source>&amp;Send</source>
        <translation>送信(&amp;S)</translation>
    </message>
</context>
<context>
    <name>KbdPane</name>
    <message>
        <source>Name</source>
        <translation>名前</translation>
    </message>
    <message>
        <source>Type</source>
        <translation>種類</translation>
    </message>
    <message>
        <source>Size(byte)</source>
        <translation>サイズ(バイト)</translation>
    </message>
    <message>
        <source>No.</source>
        <translation>番号</translation>
    </message>
</context>
<context>
    <name>LocalPane</name>
    <message>
        <source>Name</source>
        <translation>名前</translation>
    </message>
    <message>
        <source>Type</source>
        <translation>種類</translation>
    </message>
    <message>
        <source>Size</source>
        <translation>サイズ</translation>
    </message>
    <message>
        <source>File</source>
        <translation>ファイル</translation>
    </message>
    <message>
        <source>%1 File</source>
        <translation>%1 ファイル</translation>
    </message>
    <message>
        <source>Modified</source>
        <translation>更新日時</translation>
    </message>
</context>
<context>
    <name>MidiMonitor</name>
    <message>
        <source>MIDI Monitor</source>
        <translation>MIDI モニター</translation>
    </message>
    <message>
        <source>&amp;Copy</source>
        <translation>コピー(&amp;C)</translation>
    </message>
    <message>
        <source>Save as &amp;Text...</source>
        <translation>テキストで保存(&amp;T)...</translation>
    </message>
    <message>
        <source>Save MIDI Monitor as Text</source>
        <translation>MIDI モニターをテキストで保存</translation>
    </message>
    <message>
        <source>Text files (*.txt);;All files (*)</source>
        <translation>テキストファイル (*.txt);;すべてのファイル (*)</translation>
    </message>
    <message>
        <source>Save MIDI Messages as .syx</source>
        <translation>MIDI メッセージを .syx で保存</translation>
    </message>
    <message>
        <source>System Exclusive files (*.syx);;All files (*)</source>
        <translation>システムエクスクルーシブ ファイル (*.syx);;すべてのファイル (*)</translation>
    </message>
    <message>
        <source>Cle&amp;ar</source>
        <translation>クリア(&amp;A)</translation>
    </message>
    <message>
        <source>Save as .sy&amp;x...</source>
        <translation>.syx として保存(&amp;X)...</translation>
    </message>
</context>
<context>
    <name>TDirBrowseForm</name>
    <message>
        <source>Directries</source>
        <translation>フォルダーの選択</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>キャンセル</translation>
    </message>
</context>
<context>
    <name>THistoryForm</name>
    <message>
        <source>History</source>
        <translation>履歴</translation>
    </message>
    <message>
        <source>Kind:</source>
        <translation>種類:</translation>
    </message>
    <message>
        <source>All</source>
        <translation>すべて</translation>
    </message>
    <message>
        <source>Find:</source>
        <translation>検索:</translation>
    </message>
    <message>
        <source>Time</source>
        <translation>日時</translation>
    </message>
    <message>
        <source>Operation</source>
        <translation>操作</translation>
    </message>
    <message>
        <source>Slot</source>
        <translation>スロット</translation>
    </message>
    <message>
        <source>Kind</source>
        <translation>種類</translation>
    </message>
    <message>
        <source>Before → After</source>
        <translation>変更前 → 変更後</translation>
    </message>
    <message>
        <source>Size</source>
        <translation>サイズ</translation>
    </message>
    <message>
        <source>Send Back to Keyboard</source>
        <translation>キーボードに戻す</translation>
    </message>
    <message>
        <source>Send to Slot...</source>
        <translation>スロットへ送信...</translation>
    </message>
    <message>
        <source>Save As File...</source>
        <translation>ファイルに保存...</translation>
    </message>
    <message>
        <source>Undo</source>
        <translation>元に戻す</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>閉じる</translation>
    </message>
    <message>
        <source>1 slot</source>
        <translation>1 スロット</translation>
    </message>
    <message>
        <source>%1 slots</source>
        <translation>%1 スロット</translation>
    </message>
    <message>
        <source>Tone</source>
        <translation>トーン</translation>
    </message>
    <message>
        <source>DSP</source>
        <translation>DSP</translation>
    </message>
    <message>
        <source>Registration</source>
        <translation>レジストレーション</translation>
    </message>
    <message>
        <source>Song</source>
        <translation>ソング</translation>
    </message>
    <message>
        <source>Rhythm</source>
        <translation>リズム</translation>
    </message>
    <message>
        <source>send</source>
        <translation>送信</translation>
    </message>
    <message>
        <source>delete</source>
        <translation>削除</translation>
    </message>
    <message>
        <source>restore</source>
        <translation>復元</translation>
    </message>
    <message>
        <source>undo</source>
        <translation>取り消し</translation>
    </message>
    <message>
        <source>%1 (undone)</source>
        <translation>%1 (取り消し済み)</translation>
    </message>
    <message>
        <source>(empty)</source>
        <translation>(空)</translation>
    </message>
</context>
<context>
    <name>TKbdDrivePropertyForm</name>
    <message>
        <source>Properties</source>
        <translation>プロパティ</translation>
    </message>
    <message>
        <source>General</source>
        <translation>全般</translation>
    </message>
    <message>
        <source>Used Space:</source>
        <translation>使用領域:</translation>
    </message>
    <message>
        <source>Free Space:</source>
        <translation>空き領域:</translation>
    </message>
    <message>
        <source>Capacity:</source>
        <translation>容量:</translation>
    </message>
    <message>
        <source>&amp;Close</source>
        <translation>閉じる(&amp;C)</translation>
    </message>
</context>
<context>
    <name>TPcLinkForm</name>
    <message>
        <source>ZR-7316 MUSIC DATA MANAGEMENT SOFTWARE</source>
        <translation>ZR-7316 ミュージックデータ管理ソフトウェア</translation>
    </message>
    <message>
        <source>Large Icon</source>
        <translation>大きいアイコン</translation>
    </message>
    <message>
        <source>Small Icon</source>
        <translation>小さいアイコン</translation>
    </message>
    <message>
        <source>List</source>
        <translation>一覧</translation>
    </message>
    <message>
        <source>Detailed</source>
        <translation>詳細</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>ファイル(&amp;F)</translation>
    </message>
    <message>
        <source>&amp;Undo</source>
        <translation>元に戻す(&amp;U)</translation>
    </message>
    <message>
        <source>Undo the newest change to the keyboard</source>
        <translation>キーボードへの最新の変更を元に戻す</translation>
    </message>
    <message>
        <source>Get/Update &amp;List</source>
        <translation>一覧の取得/更新(&amp;L)</translation>
    </message>
    <message>
        <source>Get/Update List</source>
        <translation>一覧の取得/更新</translation>
    </message>
    <message>
        <source>Disconnect</source>
        <translation>切断</translation>
    </message>
    <message>
        <source>&amp;Send</source>
        <translation>送信(&amp;S)</translation>
    </message>
    <message>
        <source>Send</source>
        <translation>送信</translation>
    </message>
    <message>
        <source>&amp;Import</source>
        <translation>受信(&amp;I)</translation>
    </message>
    <message>
        <source>Import</source>
        <translation>受信</translation>
    </message>
    <message>
        <source>&amp;Delete</source>
        <translation>削除(&amp;D)</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>削除</translation>
    </message>
    <message>
        <source>P&amp;roperties</source>
        <translation>プロパティ(&amp;R)</translation>
    </message>
    <message>
        <source>Properties</source>
        <translation>プロパティ</translation>
    </message>
    <message>
        <source>E&amp;xit</source>
        <translation>終了(&amp;X)</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>終了</translation>
    </message>
    <message>
        <source>&amp;Retrieve</source>
        <translation>最新の情報に更新(&amp;R)</translation>
    </message>
    <message>
        <source>Retrieve</source>
        <translation>最新の情報に更新</translation>
    </message>
    <message>
        <source>&amp;Preference</source>
        <translation>環境設定(&amp;P)</translation>
    </message>
    <message>
        <source>Preference</source>
        <translation>環境設定</translation>
    </message>
    <message>
        <source>P&amp;roperies</source>
        <translation>プロパティ(&amp;R)</translation>
    </message>
    <message>
        <source>Start Up &amp;Explorer</source>
        <translation>ファイルマネージャーを開く(&amp;E)</translation>
    </message>
    <message>
        <source>Start Up Explorer</source>
        <translation>ファイルマネージャーを開く</translation>
    </message>
    <message>
        <source>Back Up Keyboard: Choose a Folder</source>
        <translation>キーボードのバックアップ: 保存先フォルダーの選択</translation>
    </message>
    <message>
        <source>Restore Keyboard: Choose a Backup</source>
        <translation>キーボードの復元: バックアップの選択</translation>
    </message>
    <message>
        <source>Backup manifest (manifest.json);;All files (*)</source>
        <translation>バックアップのマニフェスト (manifest.json);;すべてのファイル (*)</translation>
    </message>
    <message>
        <source>&amp;History...</source>
        <translation>履歴(&amp;H)...</translation>
    </message>
    <message>
        <source>Save As File: Choose a Folder</source>
        <translation>ファイルに保存: 保存先フォルダーの選択</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>キャンセル</translation>
    </message>
    <message>
        <source>&amp;View</source>
        <translation>表示(&amp;V)</translation>
    </message>
    <message>
        <source>&amp;Edit</source>
        <translation>編集(&amp;E)</translation>
    </message>
    <message>
        <source>&amp;Keyboard</source>
        <translation>キーボード(&amp;K)</translation>
    </message>
    <message>
        <source>&amp;Back Up...</source>
        <translation>バックアップ(&amp;B)...</translation>
    </message>
    <message>
        <source>Res&amp;tore...</source>
        <translation>復元(&amp;T)...</translation>
    </message>
    <message>
        <source>Lar&amp;ge Icon</source>
        <translation>大きいアイコン(&amp;G)</translation>
    </message>
    <message>
        <source>S&amp;mall Icon</source>
        <translation>小さいアイコン(&amp;M)</translation>
    </message>
    <message>
        <source>&amp;List</source>
        <translation>一覧(&amp;L)</translation>
    </message>
    <message>
        <source>&amp;Detailed</source>
        <translation>詳細(&amp;D)</translation>
    </message>
    <message>
        <source>&amp;Rename...</source>
        <translation>名前の変更(&amp;M)...</translation>
    </message>
    <message>
        <source>&amp;Delete to Trash</source>
        <translation>ごみ箱へ削除(&amp;D)</translation>
    </message>
    <message>
        <source>New &amp;Folder...</source>
        <translation>新しいフォルダー(&amp;F)...</translation>
    </message>
    <message>
        <source>&amp;Up One Folder</source>
        <translation>1 つ上のフォルダーへ(&amp;U)</translation>
    </message>
    <message>
        <source>Rename</source>
        <translation>名前の変更</translation>
    </message>
    <message>
        <source>New name:</source>
        <translation>新しい名前:</translation>
    </message>
    <message>
        <source>Delete to Trash</source>
        <translation>ごみ箱へ削除</translation>
    </message>
    <message>
        <source>Move &quot;%1&quot; to the trash?</source>
        <translation>「%1」をごみ箱に移動しますか?</translation>
    </message>
    <message>
        <source>New Folder</source>
        <translation>新しいフォルダー</translation>
    </message>
    <message>
        <source>Folder name:</source>
        <translation>フォルダー名:</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>ヘルプ(&amp;H)</translation>
    </message>
    <message>
        <source>kbxman &amp;Manual</source>
        <translation>kbxman マニュアル(&amp;M)</translation>
    </message>
    <message>
        <source>&amp;About kbxman</source>
        <translation>kbxman について(&amp;A)</translation>
    </message>
</context>
<context>
    <name>TPrefForm</name>
    <message>
        <source>Preference</source>
        <translation>環境設定</translation>
    </message>
    <message>
        <source>MIDI</source>
        <translation>MIDI</translation>
    </message>
    <message>
        <source>Input Device</source>
        <translation>入力デバイス</translation>
    </message>
    <message>
        <source>Output Device</source>
        <translation>出力デバイス</translation>
    </message>
    <message>
        <source>Find keyboard</source>
        <translation>キーボードを探す</translation>
    </message>
    <message>
        <source>Test connection</source>
        <translation>接続テスト</translation>
    </message>
    <message>
        <source>Directories</source>
        <translation>フォルダー</translation>
    </message>
    <message>
        <source>Browse...</source>
        <translation>参照...</translation>
    </message>
    <message>
        <source>Safety</source>
        <translation>データ保護</translation>
    </message>
    <message>
        <source>&amp;Keep a copy of every item a change replaces</source>
        <translation>変更で置き換わるデータのコピーを残す(&amp;K)</translation>
    </message>
    <message>
        <source>Verify after sending</source>
        <translation>送信後の確認</translation>
    </message>
    <message>
        <source>A single &amp;send</source>
        <translation>単独の送信(&amp;S)</translation>
    </message>
    <message>
        <source>&amp;Restore and undo</source>
        <translation>復元と元に戻す操作(&amp;R)</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>キャンセル</translation>
    </message>
    <message>
        <source>&amp;List the keyboard at start</source>
        <translation>起動時にキーボードの一覧を取得(&amp;L)</translation>
    </message>
    <message>
        <source>&amp;Language of the window</source>
        <translation>ウィンドウの言語(&amp;L)</translation>
    </message>
    <message>
        <source>The language is used from the next start of KbxMan. Error messages follow the system&apos;s language.</source>
        <translation>言語は KbxMan の次回起動時から使われます。エラーメッセージはシステムの言語に従います。</translation>
    </message>
    <message>
        <source>Language</source>
        <translation>言語</translation>
    </message>
    <message>
        <source>As&amp;k before deleting or replacing a song or rhythm</source>
        <translation>ソング・リズムの削除や置き換えの前に確認する(&amp;K)</translation>
    </message>
</context>
<context>
    <name>TRestorePreviewForm</name>
    <message>
        <source>Restore Keyboard</source>
        <translation>キーボードの復元</translation>
    </message>
    <message>
        <source>These slots change when the backup is restored:</source>
        <translation>バックアップを復元すると次のスロットが変わります:</translation>
    </message>
    <message>
        <source>Slot</source>
        <translation>スロット</translation>
    </message>
    <message>
        <source>Backup</source>
        <translation>バックアップ</translation>
    </message>
    <message>
        <source>Send them anyway</source>
        <translation>変更のないスロットも送信する</translation>
    </message>
    <message>
        <source>A matching name and size do not prove equal content: send the unchanged slots too</source>
        <translation>名前とサイズが同じでも内容が同じとは限りません: 変更のないスロットも送信します</translation>
    </message>
    <message>
        <source>Compare with Keyboard</source>
        <translation>キーボードと比較</translation>
    </message>
    <message>
        <source>State</source>
        <translation>状態</translation>
    </message>
    <message>
        <source>Restore</source>
        <translation>復元</translation>
    </message>
    <message>
        <source>Keyboard now</source>
        <translation>現在のキーボード</translation>
    </message>
    <message>
        <source>Untick a slot to leave it as it is</source>
        <translation>チェックを外したスロットはそのまま残ります</translation>
    </message>
</context>
<context>
    <name>TSendToSlotForm</name>
    <message>
        <source>Send to Slot</source>
        <translation>スロットへ送信</translation>
    </message>
    <message>
        <source>Send the kept item into this slot:</source>
        <translation>保存されたアイテムを送信するスロット:</translation>
    </message>
    <message>
        <source>No.</source>
        <translation>番号</translation>
    </message>
    <message>
        <source>Slot</source>
        <translation>スロット</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>名前</translation>
    </message>
    <message>
        <source>Size(byte)</source>
        <translation>サイズ(バイト)</translation>
    </message>
    <message>
        <source>&amp;Send</source>
        <translation>送信(&amp;S)</translation>
    </message>
</context>
<context>
    <name>TZxDataPropertyForm</name>
    <message>
        <source>Property</source>
        <translation>プロパティ</translation>
    </message>
    <message>
        <source>General</source>
        <translation>全般</translation>
    </message>
    <message>
        <source>Type:</source>
        <translation>種類:</translation>
    </message>
    <message>
        <source>Size:</source>
        <translation>サイズ:</translation>
    </message>
    <message>
        <source>Location:</source>
        <translation>場所:</translation>
    </message>
    <message>
        <source>Name:</source>
        <translation>名前:</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>キャンセル</translation>
    </message>
    <message>
        <source>byte(s)</source>
        <translation>バイト</translation>
    </message>
</context>
</TS>
