<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>CheckForUpdatesView</name>
    <message>
        <source>更新を確認(&amp;U)…</source>
        <translation>Check for &amp;Updates…</translation>
    </message>
</context>
<context>
    <name>DropZoneView</name>
    <message>
        <source>ここに画像をドロップ</source>
        <translation>Drop images here</translation>
    </message>
    <message>
        <source>JPEG / PNG / HEIC / TIFF / WebP / GIF / AVIF / JPEG XL</source>
        <translation>JPEG / PNG / HEIC / TIFF / WebP / GIF / AVIF / JPEG XL</translation>
    </message>
</context>
<context>
    <name>Errors</name>
    <message>
        <source>画像ファイルを開けませんでした</source>
        <translation>Could not open the image file</translation>
    </message>
    <message>
        <source>画像のメタデータを読み取れませんでした</source>
        <translation>Could not read the image&apos;s metadata</translation>
    </message>
    <message>
        <source>リサイズに失敗しました</source>
        <translation>Resizing failed</translation>
    </message>
    <message>
        <source>出力ファイルを作成できませんでした</source>
        <translation>Could not create the output file</translation>
    </message>
    <message>
        <source>画像の書き出しに失敗しました</source>
        <translation>Could not write the image</translation>
    </message>
    <message>
        <source>出力フォルダが想定外の場所を指しています</source>
        <translation>The output folder points somewhere unexpected</translation>
    </message>
    <message>
        <source>同名ファイルが多すぎます</source>
        <translation>Too many files with the same name</translation>
    </message>
    <message>
        <source>ファイル名が長すぎます</source>
        <translation>The file name is too long</translation>
    </message>
    <message>
        <source>HEIC で書き出すには画像が大きすぎます</source>
        <translation>The image is too large to write as HEIC</translation>
    </message>
    <message>
        <source>元の画像のメタデータを読み取れませんでした</source>
        <translation>The source&apos;s metadata could not be read</translation>
    </message>
    <message>
        <source>メタデータを出力に書き込めませんでした</source>
        <translation>The metadata could not be written into the output</translation>
    </message>
    <message>
        <source>画像データが壊れているか、途中で切れています</source>
        <translation>The image data is damaged or incomplete</translation>
    </message>
    <message>
        <source>この種類の画像には対応していません</source>
        <translation>This kind of image is not supported</translation>
    </message>
    <message>
        <source>AVIF で書き出すには画像が大きすぎます</source>
        <translation>The image is too large to write as AVIF</translation>
    </message>
    <message>
        <source>WebP で書き出すには画像が大きすぎます</source>
        <translation>The image is too large to write as WebP</translation>
    </message>
    <message>
        <source>%1 に収まりませんでした</source>
        <translation>Does not fit in %1</translation>
    </message>
</context>
<context>
    <name>ImagePipeline</name>
    <message>
        <source>通常ファイルではありません</source>
        <translation>Not a regular file</translation>
    </message>
    <message>
        <source>ファイルの読み取り権限がありません</source>
        <translation>No permission to read the file</translation>
    </message>
    <message>
        <source>画像が大きすぎます (%1x%2)</source>
        <translation>Image too large (%1x%2)</translation>
    </message>
    <message>
        <source>予期しないエラーが発生しました</source>
        <translation>An unexpected error occurred</translation>
    </message>
    <message>
        <source>停止しました</source>
        <translation>Stopped</translation>
    </message>
</context>
<context>
    <name>JobListModel</name>
    <message>
        <source>未処理</source>
        <translation>waiting</translation>
    </message>
    <message>
        <source>処理中</source>
        <translation>processing</translation>
    </message>
    <message>
        <source>完了</source>
        <translation>done</translation>
    </message>
    <message>
        <source>スキップ</source>
        <translation>skipped</translation>
    </message>
    <message>
        <source>失敗</source>
        <translation>failed</translation>
    </message>
    <message>
        <source>、</source>
        <translation>, </translation>
    </message>
</context>
<context>
    <name>JobListView</name>
    <message>
        <source>処理中は実行中の項目を保持します</source>
        <translation>Items in progress are kept while processing</translation>
    </message>
    <message>
        <source>すべての項目を消去</source>
        <translation>Remove all items</translation>
    </message>
    <message>
        <source>処理結果</source>
        <translation>Results</translation>
    </message>
    <message>
        <source>完了をクリア</source>
        <translation>Clear Finished</translation>
    </message>
    <message>
        <source>全クリア</source>
        <translation>Clear All</translation>
    </message>
    <message>
        <source>まだ何も処理していません</source>
        <translation>Nothing processed yet</translation>
    </message>
    <message>
        <source>進行状況</source>
        <translation>Progress</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>ファイルマネージャで表示(&amp;R)</source>
        <translation>&amp;Show in File Manager</translation>
    </message>
    <message>
        <source>開く(&amp;O)</source>
        <translation>&amp;Open</translation>
    </message>
    <message>
        <source>コピー(&amp;C)</source>
        <translation>&amp;Copy</translation>
    </message>
    <message>
        <source>出力をゴミ箱に移動(&amp;T)</source>
        <translation>Move Output to &amp;Trash</translation>
    </message>
</context>
<context>
    <name>JobRow</name>
    <message>
        <source>Finderで表示</source>
        <translation>Show in File Manager</translation>
    </message>
</context>
<context>
    <name>JobSummary</name>
    <message>
        <source>完了 %1 / スキップ %2 / 失敗 %3 / 全 %4</source>
        <translation>Done %1 / Skipped %2 / Failed %3 / All %4</translation>
    </message>
    <message>
        <source>待機中</source>
        <translation>Waiting</translation>
    </message>
    <message>
        <source>処理中…</source>
        <translation>Processing…</translation>
    </message>
    <message>
        <source>%1（%2% 削減）</source>
        <translation>%1 (%2% smaller)</translation>
    </message>
    <message>
        <source>%1（%2% 増加）</source>
        <translation>%1 (%2% larger)</translation>
    </message>
</context>
<context>
    <name>KorrinMacApp</name>
    <message>
        <source>ブリソラ</source>
        <translation>Burisora</translation>
    </message>
    <message>
        <source>ファイルを開く</source>
        <translation>Open Files</translation>
    </message>
    <message>
        <source>ブリソラについて</source>
        <translation>About Burisora</translation>
    </message>
    <message>
        <source>使い方: burisora [ファイルまたはフォルダ...]
画像を一括で縮小・再エンコードするウィンドウを開きます。指定したファイルと
フォルダは一つのバッチとして処理されます。ウィンドウがすでに開いていれば、
そのウィンドウが受け取ります。スクリプトからは burisora-cli を使います。

  --help     この説明を表示して終了
  --version  バージョンを表示して終了
</source>
        <translation>Usage: burisora [FILE_OR_FOLDER...]
Opens the window that shrinks and re-encodes images in batches. The files
and folders given are processed as one batch; when the window is open
already, that window takes them. For scripts, use burisora-cli.

  --help     show this help and exit
  --version  show the version and exit
</translation>
    </message>
    <message>
        <source>処理が終わりました</source>
        <translation>Processing finished</translation>
    </message>
    <message>
        <source>ファイルを開く(&amp;O)…</source>
        <translation>&amp;Open Files…</translation>
    </message>
    <message>
        <source>ツールバーのその他の項目</source>
        <translation>More Toolbar Items</translation>
    </message>
    <message>
        <source>ファイル(&amp;F)</source>
        <translation>&amp;File</translation>
    </message>
    <message>
        <source>終了(&amp;Q)</source>
        <translation>&amp;Quit</translation>
    </message>
    <message>
        <source>ヘルプ(&amp;H)</source>
        <translation>&amp;Help</translation>
    </message>
    <message>
        <source>ブリソラについて(&amp;A)</source>
        <translation>&amp;About Burisora</translation>
    </message>
    <message>
        <source>処理中です。停止して終了しますか？</source>
        <translation>Processing is under way. Stop and quit?</translation>
    </message>
    <message>
        <source>変換中のファイルは書き終えてから終了します。まだ始まっていないファイルは処理されません。</source>
        <translation>Files being converted are finished first; files not started yet are left undone.</translation>
    </message>
    <message>
        <source>停止して終了</source>
        <translation>Stop and Quit</translation>
    </message>
    <message>
        <source>処理を続ける</source>
        <translation>Keep Working</translation>
    </message>
</context>
<context>
    <name>OpenImagesDialog</name>
    <message>
        <source>画像</source>
        <translation>Images</translation>
    </message>
    <message>
        <source>リサイズする画像を選択</source>
        <translation>Choose Images to Resize</translation>
    </message>
</context>
<context>
    <name>OutputFormat</name>
    <message>
        <source>元と同じ</source>
        <translation>Same as Original</translation>
    </message>
</context>
<context>
    <name>SettingsPanel</name>
    <message>
        <source>%lld%</source>
        <translation>%lld%</translation>
    </message>
    <message>
        <source>リサイズ設定</source>
        <translation>Resize Settings</translation>
    </message>
    <message>
        <source>処理中 — 設定変更は次のバッチから適用されます</source>
        <translation>Processing — changes apply from the next batch</translation>
    </message>
    <message>
        <source>長辺サイズ</source>
        <translation>Long Edge</translation>
    </message>
    <message>
        <source>px</source>
        <translation>px</translation>
    </message>
    <message>
        <source>JPEG画質</source>
        <translation>JPEG Quality</translation>
    </message>
    <message>
        <source>出力フォーマット</source>
        <translation>Output Format</translation>
    </message>
    <message>
        <source>ファイル名プレフィックス</source>
        <translation>File Name Prefix</translation>
    </message>
    <message>
        <source>なし</source>
        <translation>None</translation>
    </message>
    <message>
        <source>例: thumb_</source>
        <translation>e.g. thumb_</translation>
    </message>
    <message>
        <source>保存先フォルダ名</source>
        <translation>Output Folder Name</translation>
    </message>
    <message>
        <source>Resized</source>
        <translation>Resized</translation>
    </message>
    <message>
        <source>(元画像と同じ階層に作成)</source>
        <translation>(created beside the originals)</translation>
    </message>
    <message>
        <source>EXIF・GPS情報を保持</source>
        <translation>Keep EXIF and GPS data</translation>
    </message>
    <message>
        <source>オフにするとプライバシー情報を削除</source>
        <translation>When off, private metadata is removed</translation>
    </message>
    <message>
        <source>拡大しない</source>
        <translation>Don&apos;t enlarge</translation>
    </message>
    <message>
        <source>元画像が小さい場合はリサイズせず再エンコードのみ</source>
        <translation>Smaller originals are only re-encoded, not resized</translation>
    </message>
    <message>
        <source>長辺サイズ (px)</source>
        <translation>Long Edge (px)</translation>
    </message>
    <message>
        <source>ファイルサイズの上限</source>
        <translation>File size limit</translation>
    </message>
    <message>
        <source>カスタム</source>
        <translation>Custom</translation>
    </message>
    <message>
        <source>ファイルサイズの上限 (KB)</source>
        <translation>File size limit (KB)</translation>
    </message>
    <message>
        <source>KB</source>
        <translation>KB</translation>
    </message>
</context>
<context>
    <name>SizePreset</name>
    <message>
        <source>カスタム</source>
        <translation>Custom</translation>
    </message>
</context>
<context>
    <name>Updater</name>
    <message>
        <source>暗号化されていないアドレスへの転送を拒否しました。</source>
        <translation>A redirect to an unencrypted address was refused.</translation>
    </message>
    <message>
        <source>アップデートを確認中…</source>
        <translation>Checking for updates…</translation>
    </message>
    <message>
        <source>アップデートを確認できませんでした</source>
        <translation>Couldn&apos;t check for updates</translation>
    </message>
    <message>
        <source>アップデート情報のアドレスが https ではありません。</source>
        <translation>The update feed address is not https.</translation>
    </message>
    <message>
        <source>アップデート情報が大きすぎます。</source>
        <translation>The update feed is too large.</translation>
    </message>
    <message>
        <source>安全な接続を確立できませんでした。</source>
        <translation>A secure connection could not be established.</translation>
    </message>
    <message>
        <source>サーバが応答しませんでした。</source>
        <translation>The server did not respond.</translation>
    </message>
    <message>
        <source>サーバに接続できませんでした。</source>
        <translation>Could not connect to the server.</translation>
    </message>
    <message>
        <source>サーバがエラーを返しました（HTTP %1）。</source>
        <translation>The server returned an error (HTTP %1).</translation>
    </message>
    <message>
        <source>通信に失敗しました。</source>
        <translation>The transfer failed.</translation>
    </message>
    <message>
        <source>アップデート情報の形式が正しくありません。</source>
        <translation>The update feed is malformed.</translation>
    </message>
    <message>
        <source>ブリソラは最新です</source>
        <translation>Burisora is up to date</translation>
    </message>
    <message>
        <source>お使いのバージョン %1 が最新のバージョンです。</source>
        <translation>Version %1 is the newest version.</translation>
    </message>
    <message>
        <source>新しいバージョンの情報に、確認に必要な大きさまたは署名がありません。</source>
        <translation>The new version&apos;s entry lacks the size or signature needed to verify it.</translation>
    </message>
    <message>
        <source>新しいバージョン %1 があります</source>
        <translation>Version %1 is available</translation>
    </message>
    <message>
        <source>お使いのバージョンは %1 です。ダウンロードしますか？</source>
        <translation>You have version %1. Download the new one?</translation>
    </message>
    <message>
        <source>アップデートをダウンロードできませんでした</source>
        <translation>Couldn&apos;t download the update</translation>
    </message>
    <message>
        <source>暗号化されていないアドレスからはダウンロードしません。</source>
        <translation>Downloads from unencrypted addresses are refused.</translation>
    </message>
    <message>
        <source>ファイル %1 を作成できませんでした。</source>
        <translation>Could not create the file %1.</translation>
    </message>
    <message>
        <source>バージョン %1 をダウンロード中…</source>
        <translation>Downloading version %1…</translation>
    </message>
    <message>
        <source>ファイルが更新情報に書かれた大きさを超えました。</source>
        <translation>The file is larger than the update feed says.</translation>
    </message>
    <message>
        <source>ファイルを書き込めませんでした。</source>
        <translation>The file could not be written.</translation>
    </message>
    <message>
        <source>ダウンロードしたファイルは削除しました。</source>
        <translation>The downloaded file was deleted.</translation>
    </message>
    <message>
        <source>ダウンロードを中止しました。</source>
        <translation>The download was cancelled.</translation>
    </message>
    <message>
        <source>ファイルの大きさが更新情報と一致しません。</source>
        <translation>The file&apos;s size does not match the update feed.</translation>
    </message>
    <message>
        <source>ファイルの署名を確認できませんでした。</source>
        <translation>The file&apos;s signature could not be verified.</translation>
    </message>
    <message>
        <source>バージョン %1 をダウンロードしました</source>
        <translation>Version %1 downloaded</translation>
    </message>
    <message>
        <source>署名を確認しました。ファイル %1 を開いてインストールしてください。</source>
        <translation>The signature is verified. Open %1 to install it.</translation>
    </message>
</context>
<context>
    <name>UpdaterDialog</name>
    <message>
        <source>ダウンロード</source>
        <translation>Download</translation>
    </message>
    <message>
        <source>ソフトウェア・アップデート</source>
        <translation>Software Update</translation>
    </message>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>後で</source>
        <translation>Later</translation>
    </message>
    <message>
        <source>閉じる</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>リリースノートを開く</source>
        <translation>Open Release Notes</translation>
    </message>
</context>
<context>
    <name>WorkerProtocol</name>
    <message>
        <source>画像の処理が異常終了しました</source>
        <translation>Processing of this image ended abnormally</translation>
    </message>
    <message>
        <source>画像の処理に時間がかかりすぎたため中止しました</source>
        <translation>Processing this image took too long and was stopped</translation>
    </message>
    <message>
        <source>画像を処理するプロセスを開始できませんでした</source>
        <translation>The process that handles images could not be started</translation>
    </message>
</context>
</TS>
