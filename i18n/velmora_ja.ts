<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja_JP" sourcelanguage="en">
<context>
    <name>Dialog</name>
    <message>
        <source>Execute</source>
        <translation>実行</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>終了</translation>
    </message>
    <message>
        <source>MIDI IN</source>
        <translation>MIDI IN</translation>
    </message>
    <message>
        <source>MIDI OUT</source>
        <translation>MIDI OUT</translation>
    </message>
    <message>
        <source>Rescan Device</source>
        <translation>デバイス再検索</translation>
    </message>
    <message>
        <source>About Velmora Updater</source>
        <translation>Velmora Updater について</translation>
    </message>
    <message>
        <source>Firmware updater for Velmora MIDI devices.</source>
        <translation>Velmora MIDI デバイスのファームウェアを更新します。</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Version </source>
        <translation>Ver. </translation>
    </message>
    <message>
        <source>Stand-in firmware: updates only the emulated device.</source>
        <translation>代用ファームウェア（エミュレーター専用）</translation>
    </message>
    <message>
        <source>Cannot start: %1.</source>
        <translation>起動できません: %1。</translation>
    </message>
    <message>
        <source>Step</source>
        <translation>ステップ</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>状態</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>進行状況</translation>
    </message>
</context>
<context>
    <name>Drivers</name>
    <message>
        <source>the port is not there any more</source>
        <translation>ポートがもうありません</translation>
    </message>
    <message>
        <source>the browser could not open the port</source>
        <translation>ブラウザーがポートを開けませんでした</translation>
    </message>
    <message>
        <source>the port list changed: rescan</source>
        <translation>ポートの一覧が変わりました: 再検索してください</translation>
    </message>
    <message>
        <source>cannot start the %1 thread: %2</source>
        <translation>%1のスレッドを開始できません: %2</translation>
    </message>
    <message>
        <source>%1: reading parameters</source>
        <translation>%1: パラメーターの読み取り</translation>
    </message>
    <message>
        <source>%1: buffer size</source>
        <translation>%1: バッファーサイズの設定</translation>
    </message>
    <message>
        <source>%1: wake-up threshold</source>
        <translation>%1: 通知しきい値の設定</translation>
    </message>
    <message>
        <source>%1: active sensing</source>
        <translation>%1: アクティブセンシングの設定</translation>
    </message>
    <message>
        <source>%1: setting parameters</source>
        <translation>%1: パラメーターの設定</translation>
    </message>
    <message>
        <source>no ALSA MIDI input %1 (%2 found)</source>
        <translation>ALSA MIDI 入力 %1 はありません (検出数 %2)</translation>
    </message>
    <message>
        <source>no ALSA MIDI output %1 (%2 found)</source>
        <translation>ALSA MIDI 出力 %1 はありません (検出数 %2)</translation>
    </message>
    <message>
        <source>%1 is in use by %2</source>
        <translation>%1 は %2 が使用中です</translation>
    </message>
    <message>
        <source>another program</source>
        <translation>別のプログラム</translation>
    </message>
    <message>
        <source>cannot open %1</source>
        <translation>%1 を開けません</translation>
    </message>
    <message>
        <source>the loopback output refused to open</source>
        <translation>ループバック出力を開けませんでした</translation>
    </message>
    <message>
        <source>no such loopback output</source>
        <translation>そのループバック出力はありません</translation>
    </message>
    <message>
        <source>loopback output&apos;s</source>
        <translation>ループバック出力</translation>
    </message>
    <message>
        <source>the loopback input refused to open</source>
        <translation>ループバック入力を開けませんでした</translation>
    </message>
    <message>
        <source>no such loopback input</source>
        <translation>そのループバック入力はありません</translation>
    </message>
    <message>
        <source>a process</source>
        <translation>プロセス</translation>
    </message>
    <message>
        <source>%1 (pid %2)</source>
        <translation>%1 (PID %2)</translation>
    </message>
    <message>
        <source>cannot create the output&apos;s wake-up pipe</source>
        <translation>出力の通知用パイプを作成できません</translation>
    </message>
    <message>
        <source>output&apos;s writer</source>
        <translation>出力の書き込み</translation>
    </message>
    <message>
        <source>cannot create the input&apos;s wake-up pipe</source>
        <translation>入力の通知用パイプを作成できません</translation>
    </message>
    <message>
        <source>input&apos;s reader</source>
        <translation>入力の読み取り</translation>
    </message>
    <message>
        <source>%1 does not exist</source>
        <translation>%1 は存在しません</translation>
    </message>
    <message>
        <source>no permission to open %1 for reading and writing</source>
        <translation>%1 を読み書き用に開く権限がありません</translation>
    </message>
    <message>
        <source>%1 is not a character device</source>
        <translation>%1 はキャラクターデバイスではありません</translation>
    </message>
    <message>
        <source>%1 has no device behind it</source>
        <translation>%1 の先にデバイスがありません</translation>
    </message>
    <message>
        <source>%1 is not a MIDI device: only a serial port, a pty or an ALSA rawmidi node (/dev/snd/midiC*D*) will do</source>
        <translation>%1 は MIDI デバイスではありません: 使えるのはシリアルポート、pty、ALSA rawmidi ノード (/dev/snd/midiC*D*) だけです</translation>
    </message>
    <message>
        <source>%1 is the terminal this program runs in, not a MIDI device</source>
        <translation>%1 はこのプログラムが動作している端末で、MIDI デバイスではありません</translation>
    </message>
    <message>
        <source>cannot examine %1</source>
        <translation>%1 を調べられません</translation>
    </message>
    <message>
        <source>cannot lock %1</source>
        <translation>%1 をロックできません</translation>
    </message>
    <message>
        <source>cannot read the settings of %1</source>
        <translation>%1 の設定を読み取れません</translation>
    </message>
    <message>
        <source>cannot switch %1 to raw bytes</source>
        <translation>%1 を raw モードに切り替えられません</translation>
    </message>
    <message>
        <source>no input %1: %2 has only one</source>
        <translation>入力 %1 はありません: %2 の入力は 1 つだけです</translation>
    </message>
    <message>
        <source>no output %1: %2 has only one</source>
        <translation>出力 %1 はありません: %2 の出力は 1 つだけです</translation>
    </message>
    <message>
        <source>the input on %1 is already open</source>
        <translation>%1 の入力はすでに開かれています</translation>
    </message>
    <message>
        <source>the output on %1 is already open</source>
        <translation>%1 の出力はすでに開かれています</translation>
    </message>
    <message>
        <source>%1: %2 (error %3)</source>
        <translation>%1: %2 (エラー %3)</translation>
    </message>
    <message>
        <source>failed</source>
        <translation>失敗しました</translation>
    </message>
    <message>
        <source>no MIDI input %1 (%2 found)</source>
        <translation>MIDI 入力 %1 はありません (検出数 %2)</translation>
    </message>
    <message>
        <source>no MIDI output %1 (%2 found)</source>
        <translation>MIDI 出力 %1 はありません (検出数 %2)</translation>
    </message>
    <message>
        <source>cannot start the output&apos;s completion thread: %1</source>
        <translation>出力の完了通知スレッドを開始できません: %1</translation>
    </message>
</context>
<context>
    <name>Emulator</name>
    <message>
        <source>image %1 written by step %2, offset %3</source>
        <translation>ステップ %2 で書き込んだイメージ %1、オフセット %3</translation>
    </message>
    <message>
        <source>erased by step %1 and never written</source>
        <translation>ステップ %1 で消去後、未書き込み</translation>
    </message>
    <message>
        <source>boot region, skipped: earlier content</source>
        <translation>ブート領域 (スキップ): 以前の内容</translation>
    </message>
    <message>
        <source>never touched by the plan: earlier content</source>
        <translation>計画の対象外: 以前の内容</translation>
    </message>
    <message>
        <source>the initial flash is not 4 MiB</source>
        <translation>初期フラッシュが 4 MiB ではありません</translation>
    </message>
    <message>
        <source>image %1 is missing</source>
        <translation>イメージ %1 がありません</translation>
    </message>
    <message>
        <source>image %1 does not fit its plan row</source>
        <translation>イメージ %1 が計画の行と合いません</translation>
    </message>
    <message>
        <source>no verdict: %1</source>
        <translation>判定なし: %1</translation>
    </message>
    <message>
        <source>no verdict: the flash is not 4 MiB</source>
        <translation>判定なし: フラッシュが 4 MiB ではありません</translation>
    </message>
    <message>
        <source>flash matches the plan; boot region skipped and unchanged</source>
        <translation>フラッシュは計画どおりです。ブート領域はスキップされ、変更なし</translation>
    </message>
    <message>
        <source>flash matches the plan; boot region written</source>
        <translation>フラッシュは計画どおりです。ブート領域も書き込み済み</translation>
    </message>
    <message>
        <source>flash differs at %1: %2 expected (%3), %4 found; %5 wrong bytes in all</source>
        <translation>フラッシュが %1 で異なります: 期待値 %2 (%3)、実際は %4。誤りは計 %5 バイト</translation>
    </message>
    <message>
        <source>%1: expected K:%2 (two numbers joined by a colon)</source>
        <translation>%1: K:%2 の形で指定してください (2 つの数をコロンでつなぐ)</translation>
    </message>
    <message>
        <source>%1: K must be a whole number from 1 to %2</source>
        <translation>%1: K は 1 から %2 までの整数で指定してください</translation>
    </message>
    <message>
        <source>%1: K counts from 1, so 0 names no erase or block</source>
        <translation>%1: K は 1 から数えます。0 はどの消去もブロックも指しません</translation>
    </message>
    <message>
        <source>%1: %2 must be a whole number from 1 to %3</source>
        <translation>%1: %2 は 1 から %3 までの整数で指定してください</translation>
    </message>
    <message>
        <source>%1: the model code must be a number from 0 to 0x7F</source>
        <translation>%1: モデルコードは 0 から 0x7F までの数で指定してください</translation>
    </message>
    <message>
        <source>%1: expected four characters (as in boot=1.00) or &apos;blank&apos;</source>
        <translation>%1: 4 文字 (boot=1.00 のように) または &apos;blank&apos; を指定してください</translation>
    </message>
    <message>
        <source>%1: the version must be printable ASCII</source>
        <translation>%1: バージョンは表示可能な ASCII 文字で指定してください</translation>
    </message>
    <message>
        <source>%1: expected on or off</source>
        <translation>%1: on または off を指定してください</translation>
    </message>
    <message>
        <source>%1: the status must be a number from 0 to 127</source>
        <translation>%1: ステータスは 0 から 127 までの数で指定してください</translation>
    </message>
    <message>
        <source>%1: K must be a whole number from 1 to %2 (the first is 1)</source>
        <translation>%1: K は 1 から %2 までの整数で指定してください (最初が 1)</translation>
    </message>
    <message>
        <source>%1: expected none, usb or din</source>
        <translation>%1: none、usb、din のいずれかを指定してください</translation>
    </message>
    <message>
        <source>model code (0 to 0x7F; default 0x63)</source>
        <translation>モデルコード (0 ～ 0x7F、既定値 0x63)</translation>
    </message>
    <message>
        <source>the earlier firmware&apos;s boot-version bytes (default 0.99), or a blank flash</source>
        <translation>旧ファームウェアのブートバージョン (既定値 0.99)、または空のフラッシュ</translation>
    </message>
    <message>
        <source>not in version-update mode: Begin, erase and write get 11</source>
        <translation>バージョンアップデートモードではない: Begin、消去、書き込みに 11 を返す</translation>
    </message>
    <message>
        <source>the K-th erase refused (status 1) N times</source>
        <translation>K 回目の消去を N 回拒否 (ステータス 1)</translation>
    </message>
    <message>
        <source>block K refused (status 1) N times, then written</source>
        <translation>ブロック K を N 回拒否 (ステータス 1) した後に書き込む</translation>
    </message>
    <message>
        <source>block K written but its answer lost N times</source>
        <translation>ブロック K は書き込むが、その応答を N 回失う</translation>
    </message>
    <message>
        <source>the first answer to block K sent MS ms late</source>
        <translation>ブロック K への最初の応答を MS ms 遅らせる</translation>
    </message>
    <message>
        <source>the first answer to the K-th erase sent MS ms late</source>
        <translation>K 回目の消去への最初の応答を MS ms 遅らせる</translation>
    </message>
    <message>
        <source>block K acknowledged but stored with one byte wrong</source>
        <translation>ブロック K を受理するが、1 バイト誤って保存する</translation>
    </message>
    <message>
        <source>each answer lost with a chance of P percent, drawn from SEED</source>
        <translation>各応答を P パーセントの確率で失う (乱数の種は SEED)</translation>
    </message>
    <message>
        <source>every ReadReply carries a wrong checksum</source>
        <translation>すべての ReadReply のチェックサムを誤らせる</translation>
    </message>
    <message>
        <source>answers nothing and changes nothing</source>
        <translation>何も応答せず、何も変更しない</translation>
    </message>
    <message>
        <source>the status that answers EndUpdateRequest (default 0)</source>
        <translation>EndUpdateRequest に返すステータス (既定値 0)</translation>
    </message>
    <message>
        <source>unplugged when the K-th message from the host arrives</source>
        <translation>ホストから K 番目のメッセージが届いた時点で切断される</translation>
    </message>
    <message>
        <source>sends messages of its own between its answers</source>
        <translation>応答の合間に独自のメッセージを送る</translation>
    </message>
    <message>
        <source>DoneReply instead of status 0 for erases and writes</source>
        <translation>消去と書き込みにステータス 0 の代わりに DoneReply を返す</translation>
    </message>
    <message>
        <source>the link also hands every host message back (a MIDI thru or loop)</source>
        <translation>回線がホストのメッセージをすべて送り返す (MIDI スルーやループ)</translation>
    </message>
    <message>
        <source>wire speed each way (default usb)</source>
        <translation>各方向の回線速度 (既定値 usb)</translation>
    </message>
    <message>
        <source>%1: the share of answers lost is a percentage from 1 to 100</source>
        <translation>%1: 応答を失う割合は 1 から 100 までのパーセントで指定してください</translation>
    </message>
    <message>
        <source>unknown key &apos;%1&apos; (known keys: %2)</source>
        <translation>不明なキー &apos;%1&apos; (使えるキー: %2)</translation>
    </message>
    <message>
        <source>key &apos;%1&apos; takes no value, but got &apos;%2&apos;</source>
        <translation>キー &apos;%1&apos; は値を取りませんが、&apos;%2&apos; が指定されました</translation>
    </message>
    <message>
        <source>key &apos;%1&apos; needs a value (%1=...)</source>
        <translation>キー &apos;%1&apos; には値が必要です (%1=...)</translation>
    </message>
    <message>
        <source>item %1 is empty (two commas in a row, or a comma at either end)</source>
        <translation>%1 番目の項目が空です (コンマが連続しているか、両端にコンマがあります)</translation>
    </message>
    <message>
        <source>item &apos;%1&apos; has no key before &apos;=&apos;</source>
        <translation>項目 &apos;%1&apos; の &apos;=&apos; の前にキーがありません</translation>
    </message>
    <message>
        <source>duplicate key &apos;%1&apos;: give each key once</source>
        <translation>キー &apos;%1&apos; が重複しています: 各キーは 1 回だけ指定してください</translation>
    </message>
    <message>
        <source>Device scenario: comma-separated keys, each at most once (erases and blocks count from 1).
</source>
        <translation>デバイスシナリオ: コンマ区切りのキー。各キーは 1 回まで (消去とブロックは 1 から数えます)。
</translation>
    </message>
    <message>
        <source>usage: %1 [scenario]</source>
        <translation>使い方: %1 [シナリオ]</translation>
    </message>
    <message>
        <source>%1: the scenario &quot;%2&quot; is not valid: %3</source>
        <translation>%1: シナリオ &quot;%2&quot; は無効です: %3</translation>
    </message>
</context>
<context>
    <name>InstanceLock</name>
    <message>
        <source>&quot;%1&quot; is not an absolute path</source>
        <translation>&quot;%1&quot; は絶対パスではありません</translation>
    </message>
    <message>
        <source>%1: owned by user %2, not by this user</source>
        <translation>%1: 所有者がこのユーザーではなくユーザー %2 です</translation>
    </message>
    <message>
        <source>%1: other users may write to it</source>
        <translation>%1: 他のユーザーが書き込める状態です</translation>
    </message>
    <message>
        <source>no home directory</source>
        <translation>ホームディレクトリがありません</translation>
    </message>
    <message>
        <source>XDG_RUNTIME_DIR is not set</source>
        <translation>XDG_RUNTIME_DIR が設定されていません</translation>
    </message>
    <message>
        <source>cannot create %1</source>
        <translation>%1 を作成できません</translation>
    </message>
    <message>
        <source>no directory for the instance lock: %1; %2</source>
        <translation>インスタンスロック用のディレクトリがありません: %1、%2</translation>
    </message>
    <message>
        <source>%1: not a file of this user&apos;s</source>
        <translation>%1: このユーザーのファイルではありません</translation>
    </message>
    <message>
        <source>cannot lock %1</source>
        <translation>%1 をロックできません</translation>
    </message>
</context>
<context>
    <name>Texts</name>
    <message>
        <source>%1 left</source>
        <translation>残り %1</translation>
    </message>
    <message>
        <source>About Velmora Updater(&amp;A)...</source>
        <translation>Velmora Updater について(&amp;A)...</translation>
    </message>
    <message>
        <source>Time out error(1)</source>
        <translation>タイムアウトエラー(1)</translation>
    </message>
    <message>
        <source>Time out error(2)</source>
        <translation>タイムアウトエラー(2)</translation>
    </message>
    <message>
        <source>Time out error(3)</source>
        <translation>タイムアウトエラー(3)</translation>
    </message>
    <message>
        <source>Illegal device connected.</source>
        <translation>対応していないデバイスが接続されています。</translation>
    </message>
    <message>
        <source>Please set the Version update mode.</source>
        <translation>デバイスをバージョンアップデートモードにしてください。</translation>
    </message>
    <message>
        <source>Transfer error occurred.</source>
        <translation>転送エラーが発生しました。</translation>
    </message>
    <message>
        <source>Version update completed.</source>
        <translation>バージョンアップデートが完了しました。</translation>
    </message>
    <message>
        <source>In Progress.</source>
        <translation>処理中です。</translation>
    </message>
    <message>
        <source>Can&apos;t open MIDI In device.</source>
        <translation>MIDI IN デバイスを開けません。</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>エラー</translation>
    </message>
    <message>
        <source>Can&apos;t open MIDI Out device.</source>
        <translation>MIDI OUT デバイスを開けません。</translation>
    </message>
    <message>
        <source>Erasing Flash memory.</source>
        <translation>フラッシュメモリを消去しています。</translation>
    </message>
    <message>
        <source>This build carries stand-in firmware images: it can update only the emulated device.</source>
        <translation>このビルドのファームウェアは代用イメージです。エミュレートされたデバイスしか更新できません。</translation>
    </message>
    <message>
        <source>Data transmit  %1 / %2 </source>
        <translation>データ転送中  %1 / %2 </translation>
    </message>
    <message>
        <source>It is forbidden to launch more than %1 instance of this application.</source>
        <translation>このアプリケーションは %1 個までしか起動できません。</translation>
    </message>
    <message>
        <source>Verify failed: image %1 differs at %2</source>
        <translation>照合に失敗しました: イメージ %1 がアドレス %2 で異なります</translation>
    </message>
    <message>
        <source>Verify failed: image %1 could not be read back at %2</source>
        <translation>照合に失敗しました: イメージ %1 をアドレス %2 で読み戻せませんでした</translation>
    </message>
</context>
<context>
    <name>velmora-flash</name>
    <message>
        <source>standard output could not be written: what was meant for it is lost</source>
        <translation>標準出力に書き込めませんでした: 出力されるはずだった内容は失われました</translation>
    </message>
    <message>
        <source>%1: no such device</source>
        <translation>%1: そのようなデバイスはありません</translation>
    </message>
    <message>
        <source>--device is not available on this platform</source>
        <translation>--device はこのプラットフォームでは使えません</translation>
    </message>
    <message>
        <source>no MIDI driver on this platform</source>
        <translation>このプラットフォームには MIDI ドライバーがありません</translation>
    </message>
    <message>
        <source>the update ended before its first step: the device did not return its boot-region version</source>
        <translation>最初のステップの前に更新が終了しました: デバイスがブート領域のバージョンを返しませんでした</translation>
    </message>
    <message>
        <source>the emulated device&apos;s flash does not hold what the update wrote</source>
        <translation>エミュレートされたデバイスのフラッシュの内容が、書き込んだ内容と一致しません</translation>
    </message>
    <message>
        <source>no device found: no MIDI IN and MIDI OUT pair goes by the names of any copy from 1 to %1 (see --list)</source>
        <translation>デバイスが見つかりません: インスタンス 1 ～ %1 のどの名前にも一致する MIDI IN と MIDI OUT の組がありません (--list を参照)</translation>
    </message>
    <message>
        <source>Emulated device: %1</source>
        <translation>エミュレートされたデバイス: %1</translation>
    </message>
    <message>
        <source>default</source>
        <translation>既定</translation>
    </message>
    <message>
        <source>Dry run: device model %1, boot region already current: steps 4 and 5 would be skipped</source>
        <translation>ドライラン: デバイスのモデル %1、ブート領域は最新のため、ステップ 4 と 5 はスキップされます</translation>
    </message>
    <message>
        <source>Dry run: device model %1, boot region would be written</source>
        <translation>ドライラン: デバイスのモデル %1、ブート領域も書き込まれます</translation>
    </message>
    <message>
        <source>Would send %1 bytes in %2 messages; the link and flash model expects %3 s</source>
        <translation>%2 個のメッセージで %1 バイトを送信します。回線とフラッシュのモデルによる予想時間は %3 秒です</translation>
    </message>
    <message>
        <source>Dry run: nothing was begun, erased or written.</source>
        <translation>ドライラン: 更新の開始、消去、書き込みは何も行っていません。</translation>
    </message>
    <message>
        <source>Interrupted: the update was stopped before it completed.</source>
        <translation>中断: 更新は完了する前に停止されました。</translation>
    </message>
    <message>
        <source>Verify: every written region read back and matched (%1)</source>
        <translation>照合: 書き込んだすべての領域を読み戻し、一致しました (%1)</translation>
    </message>
    <message>
        <source>the device answered the closing request with status %1; the update counts as completed</source>
        <translation>デバイスが終了要求にステータス %1 で応答しました。更新は完了として扱います</translation>
    </message>
    <message>
        <source>completed</source>
        <translation>完了</translation>
    </message>
    <message>
        <source>interrupted</source>
        <translation>中断</translation>
    </message>
    <message>
        <source>failed</source>
        <translation>失敗</translation>
    </message>
    <message>
        <source>Device</source>
        <translation>デバイス</translation>
    </message>
    <message>
        <source>Model</source>
        <translation>モデル</translation>
    </message>
    <message>
        <source>Outcome</source>
        <translation>結果</translation>
    </message>
    <message>
        <source>Seconds</source>
        <translation>秒数</translation>
    </message>
    <message>
        <source>Resends</source>
        <translation>再送</translation>
    </message>
    <message>
        <source>Try &apos;velmora-flash --help&apos;.</source>
        <translation>使い方は &apos;velmora-flash --help&apos; で表示できます。</translation>
    </message>
    <message>
        <source>%1 takes a number from 1 to %2, not &quot;%3&quot;</source>
        <translation>%1 には 1 から %2 までの数を指定してください (&quot;%3&quot; は使えません)</translation>
    </message>
    <message>
        <source>%1 given twice</source>
        <translation>%1 が 2 回指定されています</translation>
    </message>
    <message>
        <source>%1 takes a device number K from 1 to %2, not &quot;%3&quot;</source>
        <translation>%1 のデバイス番号 K は 1 から %2 までで指定してください (&quot;%3&quot; は使えません)</translation>
    </message>
    <message>
        <source>unknown option %1</source>
        <translation>不明なオプション %1</translation>
    </message>
    <message>
        <source>unexpected argument &quot;%1&quot;</source>
        <translation>想定外の引数 &quot;%1&quot;</translation>
    </message>
    <message>
        <source>%1 needs a value</source>
        <translation>%1 には値が必要です</translation>
    </message>
    <message>
        <source>--timing-scale takes a factor from %1 to 1, not &quot;%2&quot;</source>
        <translation>--timing-scale には %1 以上 1 以下の係数を指定してください (&quot;%2&quot; は使えません)</translation>
    </message>
    <message>
        <source>--emulate=...@%1: there is 1 emulated device (--emulated-devices N)</source>
        <translation>--emulate=...@%1: エミュレートされたデバイスは 1 台だけです (--emulated-devices N)</translation>
    </message>
    <message>
        <source>--emulate=...@%1: there are %2 emulated devices (--emulated-devices N)</source>
        <translation>--emulate=...@%1: エミュレートされたデバイスは %2 台です (--emulated-devices N)</translation>
    </message>
    <message>
        <source>--emulated-devices sets how many devices --emulate shows: use it with --emulate</source>
        <translation>--emulated-devices は --emulate が用意するデバイスの台数です: --emulate と一緒に指定してください</translation>
    </message>
    <message>
        <source>--all updates every device it finds; --in and --out choose one</source>
        <translation>--all は見つかったすべてのデバイスを更新します。--in と --out は 1 台を選ぶためのものです</translation>
    </message>
    <message>
        <source>--all looks for the names of every copy; --instance chooses one copy&apos;s</source>
        <translation>--all はすべてのインスタンスの名前を探します。--instance は 1 つのインスタンスの名前を選ぶためのものです</translation>
    </message>
    <message>
        <source>--all updates every device on the MIDI ports; --device is one device</source>
        <translation>--all は MIDI ポート上のすべてのデバイスを更新します。--device は 1 台のデバイスです</translation>
    </message>
    <message>
        <source>--dry-run writes nothing, so --verify has nothing to read back</source>
        <translation>--dry-run は何も書き込まないため、--verify で読み戻すものがありません</translation>
    </message>
    <message>
        <source>%1 belongs to an update; --list runs none</source>
        <translation>%1 は更新のためのオプションです。--list は更新を行いません</translation>
    </message>
    <message>
        <source>--device and --emulate exclude each other</source>
        <translation>--device と --emulate は同時に指定できません</translation>
    </message>
    <message>
        <source>%1 brings its own two ports; --in and --out choose among the platform&apos;s</source>
        <translation>%1 は専用の 2 つのポートを使います。--in と --out はプラットフォームのポートから選ぶためのものです</translation>
    </message>
    <message>
        <source>--list shows the ports; --in and --out choose one for an update</source>
        <translation>--list はポートを表示します。--in と --out は更新に使うポートを選ぶためのものです</translation>
    </message>
    <message>
        <source>--verify reads back an update; --list runs none</source>
        <translation>--verify は更新を読み戻します。--list は更新を行いません</translation>
    </message>
    <message>
        <source>This build carries stand-in firmware images (generated filler, nothing a device can run): it
updates only the emulated device (--emulate) and refuses every other port.
</source>
        <translation>このビルドのファームウェアは代用イメージです (生成したダミーデータで、デバイスでは動作しません)。
エミュレートされたデバイス (--emulate) だけを更新し、それ以外のポートはすべて拒否します。
</translation>
    </message>
    <message>
        <source>Usage: %1 [PORTS] [--instance N] [--verify | --dry-run] [--json] [--timing-scale F]
       %1 --all [--emulate[=SCENARIO] [--emulated-devices N]] [--verify | --dry-run] [--json]
       %1 --list [--device PATH | --emulate[=SCENARIO]] [--instance N]
</source>
        <translation>使い方: %1 [PORTS] [--instance N] [--verify | --dry-run] [--json] [--timing-scale F]
        %1 --all [--emulate[=SCENARIO] [--emulated-devices N]] [--verify | --dry-run] [--json]
        %1 --list [--device PATH | --emulate[=SCENARIO]] [--instance N]
</translation>
    </message>
    <message>
        <source>Writes the built-in firmware onto a device over MIDI SysEx: the same nine-step update as the
updater window, from a terminal or a script.
</source>
        <translation>内蔵のファームウェアを MIDI SysEx でデバイスに書き込みます。アップデーターのウィンドウと同じ
9 ステップの更新を、端末やスクリプトから実行します。
</translation>
    </message>
    <message>
        <source>Ports (without any, the ports named as the window would pre-select them: the last port called
&quot;%1&quot;, &quot;%2&quot; or &quot;%3&quot; in each list):
</source>
        <translation>ポート (指定しないときは、ウィンドウが事前選択するポート: 各一覧で
&quot;%1&quot;、&quot;%2&quot;、&quot;%3&quot; のいずれかの名前を持つ最後のポート):
</translation>
    </message>
    <message>
        <source>Progress: on a terminal, one line kept up to date (step, what it does, bytes of the step, share of
the image bytes written, rate, time left). Otherwise one line per step (&quot;Step 4/9: ...&quot;) and per
change of the status text. The last line of a completed update is &quot;Version update completed.&quot;;
a failure prints its message on standard error. With --emulate, the emulated device&apos;s own verdict
on its flash is printed just before that last line, and a flash that does not hold the plan makes
the run fail.
</source>
        <translation>進捗: 端末では 1 行を随時書き換えて表示 (ステップ、処理内容、ステップのバイト数、書き込んだ
イメージの割合、速度、残り時間)。それ以外ではステップごとに 1 行 (&quot;ステップ 4/9: ...&quot;)、状態の
表示が変わるごとに 1 行を出力。更新が完了すると、最後の行は
&quot;バージョンアップデートが完了しました。&quot; です。失敗したときは、そのメッセージを標準エラー出力に
表示します。--emulate では、エミュレートされたデバイス自身によるフラッシュの判定を最後の行の
直前に表示し、フラッシュが計画どおりでなければ失敗とします。
</translation>
    </message>
    <message>
        <source>Exit status: 0 completed (a dry run: an update could run); 1 the update failed, or with --all any
device&apos;s; 2 bad usage, or no port to use; 130 interrupted (Ctrl-C, SIGTERM or SIGHUP: every update
is stopped as closing the window stops it).
</source>
        <translation>終了ステータス: 0 完了 (ドライランでは、更新が可能)。1 更新に失敗 (--all ではいずれかの
デバイスが失敗)。2 使い方の誤り、または使えるポートがない。130 中断 (Ctrl-C、SIGTERM、SIGHUP:
ウィンドウを閉じたときと同じく、すべての更新を停止)。
</translation>
    </message>
    <message>
        <source>Without SCENARIO the emulated device is in update mode, holds boot version 0.99 and takes the
time of a USB link and of flash erasing and programming: a whole update takes about 40 s.
</source>
        <translation>SCENARIO を指定しないとき、エミュレートされたデバイスはアップデートモードで、ブートバージョンは
0.99。USB 接続とフラッシュの消去・書き込みに実機並みの時間がかかり、更新全体で約 40 秒です。
</translation>
    </message>
    <message>
        <source>--timing-scale is a test aid for the emulated device: use it with --emulate only</source>
        <translation>--timing-scale はエミュレートされたデバイス用のテスト補助です: --emulate と一緒にだけ指定してください</translation>
    </message>
    <message>
        <source>%1 or %2</source>
        <translation>%1 または %2</translation>
    </message>
    <message>
        <source>there is none</source>
        <translation>ポートがありません</translation>
    </message>
    <message>
        <source>there is only port 0</source>
        <translation>ポート 0 だけです</translation>
    </message>
    <message>
        <source>ports 0 to %1</source>
        <translation>ポート 0 ～ %1</translation>
    </message>
    <message>
        <source>there is no %1 port</source>
        <translation>%1 ポートがありません</translation>
    </message>
    <message>
        <source>no %1 port is named %2; choose one with %3 (see --list)</source>
        <translation>%2 という名前の %1 ポートはありません。%3 で選んでください (--list を参照)</translation>
    </message>
    <message>
        <source>%1 has no port %2 (%3)</source>
        <translation>%1 にポート %2 はありません (%3)</translation>
    </message>
    <message>
        <source>no %1 port is named %2 (see --list)</source>
        <translation>%2 という名前の %1 ポートはありません (--list を参照)</translation>
    </message>
    <message>
        <source>%1 %2 ports are named %3 (%4); choose one by its number</source>
        <translation>%3 という名前の %2 ポートが %1 個あります (%4)。番号で選んでください</translation>
    </message>
    <message>
        <source>MIDI IN %1 left out: no MIDI OUT port goes by the names of copy %2</source>
        <translation>MIDI IN %1 は対象外: インスタンス %2 の名前に一致する MIDI OUT ポートがありません</translation>
    </message>
    <message>
        <source>MIDI OUT %1 left out: no MIDI IN port goes by the names of copy %2</source>
        <translation>MIDI OUT %1 は対象外: インスタンス %2 の名前に一致する MIDI IN ポートがありません</translation>
    </message>
    <message>
        <source>%1 ports:</source>
        <translation>%1 ポート:</translation>
    </message>
    <message>
        <source>(none)</source>
        <translation>(なし)</translation>
    </message>
    <message>
        <source>* the port used when none is named (names looked for, copy %1): %2</source>
        <translation>* ポートを指定しないときに使うポート (インスタンス %1 が探す名前): %2</translation>
    </message>
    <message>
        <source>erase %1 to %2, %3 bytes</source>
        <translation>%1 ～ %2 を消去、%3 バイト</translation>
    </message>
    <message>
        <source>write image %1 to %2, %3 bytes</source>
        <translation>イメージ %1 を %2 に書き込み、%3 バイト</translation>
    </message>
    <message>
        <source>Step %1/%2: skipped, the boot region already holds this version (%3)</source>
        <translation>ステップ %1/%2: スキップ、ブート領域はすでにこのバージョンです (%3)</translation>
    </message>
    <message>
        <source>Step %1/%2: %3</source>
        <translation>ステップ %1/%2: %3</translation>
    </message>
    <message>
        <source>Step %1/%2 %3</source>
        <translation>ステップ %1/%2 %3</translation>
    </message>
    <message>
        <source>identifying the device</source>
        <translation>デバイスを識別中</translation>
    </message>
    <message>
        <source>Step %1/%2 erasing %3 bytes at %4, done</source>
        <translation>ステップ %1/%2 %4 の %3 バイトを消去、完了</translation>
    </message>
    <message>
        <source>Step %1/%2 erasing %3 bytes at %4 for %5</source>
        <translation>ステップ %1/%2 %4 の %3 バイトを消去中 %5</translation>
    </message>
    <message>
        <source>Step %1/%2 writing image %3 at %4: %5/%6 bytes</source>
        <translation>ステップ %1/%2 イメージ %3 を %4 に書き込み中: %5/%6 バイト</translation>
    </message>
    <message>
        <source>the MIDI IN port, by its exact name, its number in --list or its
address there (hw:C,D,S on ALSA)</source>
        <translation>MIDI IN ポート。正確な名前、--list での番号、またはそこに示された
アドレス (ALSA では hw:C,D,S) で指定</translation>
    </message>
    <message>
        <source>the MIDI OUT port, the same way</source>
        <translation>MIDI OUT ポート。指定方法は --in と同じ</translation>
    </message>
    <message>
        <source>a raw MIDI byte stream (tty, pty, /dev/snd/midiC*D*), both directions</source>
        <translation>生の MIDI バイトストリーム (tty、pty、/dev/snd/midiC*D*)。送受信の両方に使用</translation>
    </message>
    <message>
        <source>the built-in emulated device instead of hardware; SCENARIO below</source>
        <translation>ハードウェアの代わりに内蔵のエミュレートデバイスを使用。SCENARIO は後述</translation>
    </message>
    <message>
        <source>look for the names copy N of the updater looks for: from 2 on, each name
followed by &quot; (N)&quot; (1 to 20, default 1)</source>
        <translation>アップデーターの N 番目のインスタンスが探す名前を探す: 2 以降は各名前の
後に &quot; (N)&quot; が付く (1 ～ 20、既定値 1)</translation>
    </message>
    <message>
        <source>every device at once: each MIDI IN and MIDI OUT pair that one of the 20
copies of the updater would pre-select; lines start with the device&apos;s port
name, and a table of outcomes ends the output</source>
        <translation>すべてのデバイスを同時に更新: 20 個のインスタンスのいずれかが事前選択する
MIDI IN と MIDI OUT の組ごとに更新する。各行はデバイスのポート名で始まり、
最後に結果の表を出力</translation>
    </message>
    <message>
        <source>with --emulate: N emulated devices (1 to 20), named for copies 1 to N</source>
        <translation>--emulate と併用: エミュレートされたデバイスを N 台 (1 ～ 20) 用意し、
インスタンス 1 ～ N の名前を付ける</translation>
    </message>
    <message>
        <source>SCENARIO for emulated device K only; may be given once per device, beside
one --emulate[=SCENARIO] for the others</source>
        <translation>エミュレートされたデバイス K だけの SCENARIO。デバイスごとに 1 回指定でき、
他のデバイス用の --emulate[=SCENARIO] 1 つと併用できる</translation>
    </message>
    <message>
        <source>number the MIDI IN and MIDI OUT ports and mark the pre-selected ones</source>
        <translation>MIDI IN と MIDI OUT のポートを番号付きで表示し、事前選択されるポートに
印を付ける</translation>
    </message>
    <message>
        <source>identify the device and read its boot version, then say what an update
would do (steps, bytes, expected time); nothing is begun, erased or written</source>
        <translation>デバイスを識別してブートバージョンを読み取り、更新で行う内容 (ステップ、
バイト数、予想時間) を表示する。開始、消去、書き込みは一切行わない</translation>
    </message>
    <message>
        <source>JSON Lines events on standard output (docs/json-events.md); the lines
meant for people go to standard error</source>
        <translation>標準出力に JSON Lines のイベントを出力 (docs/json-events.md)。人が読む
行は標準エラー出力に出る</translation>
    </message>
    <message>
        <source>after the last write, read every written region back (4 KiB reads) and
compare it with the images; a difference fails the update, naming the
image and the first differing address. Needs a device that answers reads
of 4 KiB; one that does not makes the update fail, never pass</source>
        <translation>最後の書き込みの後、書き込んだ全領域を読み戻して (4 KiB 単位) イメージと
比較する。違いがあれば、そのイメージと最初に異なるアドレスを示して更新を
失敗とする。4 KiB の読み出しに応答するデバイスが必要で、応答しない
デバイスでは更新は失敗する (成功にはならない)</translation>
    </message>
    <message>
        <source>test aid, with --emulate only: every protocol time, and the emulated
device&apos;s times, multiplied by F (0.01 &lt;= F &lt;= 1)</source>
        <translation>テスト補助、--emulate 使用時のみ: プロトコルの各時間とエミュレートされた
デバイスの時間を F 倍にする (0.01 &lt;= F &lt;= 1)</translation>
    </message>
    <message>
        <source>this text</source>
        <translation>このヘルプを表示</translation>
    </message>
    <message>
        <source>the program&apos;s version</source>
        <translation>プログラムのバージョンを表示</translation>
    </message>
    <message>
        <source>Other options:
</source>
        <translation>その他のオプション:
</translation>
    </message>
</context>
<context>
    <name>Web</name>
    <message>
        <source>This browser has no Web MIDI. Use Chrome, Edge, Opera or Firefox; Safari does not have it.</source>
        <translation>このブラウザーには Web MIDI がありません。Chrome、Edge、Opera、Firefox を使ってください (Safari にはありません)。</translation>
    </message>
    <message>
        <source>MIDI access was refused. Allow this site to use MIDI devices (with system exclusive messages) in the browser&apos;s site settings, then press Rescan Device.</source>
        <translation>MIDI の使用が拒否されました。ブラウザーのサイトの設定で、このサイトに MIDI デバイス (システム エクスクルーシブ メッセージを含む) の使用を許可してから、デバイス再検索を押してください。</translation>
    </message>
    <message>
        <source>Web MIDI works only in a secure context: open this page from https:// or http://localhost.</source>
        <translation>Web MIDI は安全なコンテキストでのみ動作します: このページを https:// または http://localhost から開いてください。</translation>
    </message>
    <message>
        <source>The browser could not reach the computer&apos;s MIDI system: %1</source>
        <translation>ブラウザーがコンピューターの MIDI システムを使えませんでした: %1</translation>
    </message>
    <message>
        <source>Connect the device and press Rescan Device: the browser asks to allow MIDI.</source>
        <translation>デバイスを接続してデバイス再検索を押してください: ブラウザーが MIDI の許可を求めます。</translation>
    </message>
    <message>
        <source>Demo: an emulated device, running in this page.</source>
        <translation>デモ: このページの中で動くエミュレートされたデバイスです。</translation>
    </message>
    <message>
        <source>Try the demo</source>
        <translation>デモを試す</translation>
    </message>
    <message>
        <source>%1 KiB/s</source>
        <translation>%1 KiB/秒</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>進行状況</translation>
    </message>
</context>
</TS>
