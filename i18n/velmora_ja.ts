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
</context>
<context>
    <name>Texts</name>
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
</TS>
