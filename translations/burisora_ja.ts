<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja" sourcelanguage="ja">
<context>
    <name>CheckForUpdatesView</name>
    <message>
        <source>更新を確認(&amp;U)…</source>
        <translation>更新を確認(&amp;U)…</translation>
    </message>
</context>
<context>
    <name>DropZoneView</name>
    <message>
        <source>ここに画像をドロップ</source>
        <translation>ここに画像をドロップ</translation>
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
        <translation>画像ファイルを開けませんでした</translation>
    </message>
    <message>
        <source>画像のメタデータを読み取れませんでした</source>
        <translation>画像のメタデータを読み取れませんでした</translation>
    </message>
    <message>
        <source>リサイズに失敗しました</source>
        <translation>リサイズに失敗しました</translation>
    </message>
    <message>
        <source>出力ファイルを作成できませんでした</source>
        <translation>出力ファイルを作成できませんでした</translation>
    </message>
    <message>
        <source>画像の書き出しに失敗しました</source>
        <translation>画像の書き出しに失敗しました</translation>
    </message>
    <message>
        <source>出力フォルダが想定外の場所を指しています</source>
        <translation>出力フォルダが想定外の場所を指しています</translation>
    </message>
    <message>
        <source>同名ファイルが多すぎます</source>
        <translation>同名ファイルが多すぎます</translation>
    </message>
    <message>
        <source>ファイル名が長すぎます</source>
        <translation>ファイル名が長すぎます</translation>
    </message>
    <message>
        <source>HEIC で書き出すには画像が大きすぎます</source>
        <translation>HEIC で書き出すには画像が大きすぎます</translation>
    </message>
    <message>
        <source>元の画像のメタデータを読み取れませんでした</source>
        <translation>元の画像のメタデータを読み取れませんでした</translation>
    </message>
    <message>
        <source>メタデータを出力に書き込めませんでした</source>
        <translation>メタデータを出力に書き込めませんでした</translation>
    </message>
    <message>
        <source>画像データが壊れているか、途中で切れています</source>
        <translation>画像データが壊れているか、途中で切れています</translation>
    </message>
    <message>
        <source>この種類の画像には対応していません</source>
        <translation>この種類の画像には対応していません</translation>
    </message>
    <message>
        <source>AVIF で書き出すには画像が大きすぎます</source>
        <translation>AVIF で書き出すには画像が大きすぎます</translation>
    </message>
    <message>
        <source>WebP で書き出すには画像が大きすぎます</source>
        <translation>WebP で書き出すには画像が大きすぎます</translation>
    </message>
    <message>
        <source>%1 に収まりませんでした</source>
        <translation>%1 に収まりませんでした</translation>
    </message>
</context>
<context>
    <name>ImagePipeline</name>
    <message>
        <source>通常ファイルではありません</source>
        <translation>通常ファイルではありません</translation>
    </message>
    <message>
        <source>ファイルの読み取り権限がありません</source>
        <translation>ファイルの読み取り権限がありません</translation>
    </message>
    <message>
        <source>画像が大きすぎます (%1x%2)</source>
        <translation>画像が大きすぎます (%1x%2)</translation>
    </message>
    <message>
        <source>予期しないエラーが発生しました</source>
        <translation>予期しないエラーが発生しました</translation>
    </message>
    <message>
        <source>停止しました</source>
        <translation>停止しました</translation>
    </message>
</context>
<context>
    <name>JobListModel</name>
    <message>
        <source>未処理</source>
        <translation>未処理</translation>
    </message>
    <message>
        <source>処理中</source>
        <translation>処理中</translation>
    </message>
    <message>
        <source>完了</source>
        <translation>完了</translation>
    </message>
    <message>
        <source>スキップ</source>
        <translation>スキップ</translation>
    </message>
    <message>
        <source>失敗</source>
        <translation>失敗</translation>
    </message>
    <message>
        <source>、</source>
        <translation>、</translation>
    </message>
</context>
<context>
    <name>JobListView</name>
    <message>
        <source>処理中は実行中の項目を保持します</source>
        <translation>処理中は実行中の項目を保持します</translation>
    </message>
    <message>
        <source>すべての項目を消去</source>
        <translation>すべての項目を消去</translation>
    </message>
    <message>
        <source>処理結果</source>
        <translation>処理結果</translation>
    </message>
    <message>
        <source>完了をクリア</source>
        <translation>完了をクリア</translation>
    </message>
    <message>
        <source>全クリア</source>
        <translation>全クリア</translation>
    </message>
    <message>
        <source>まだ何も処理していません</source>
        <translation>まだ何も処理していません</translation>
    </message>
    <message>
        <source>進行状況</source>
        <translation>進行状況</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>停止</translation>
    </message>
    <message>
        <source>ファイルマネージャで表示(&amp;R)</source>
        <translation>ファイルマネージャで表示(&amp;R)</translation>
    </message>
    <message>
        <source>開く(&amp;O)</source>
        <translation>開く(&amp;O)</translation>
    </message>
    <message>
        <source>コピー(&amp;C)</source>
        <translation>コピー(&amp;C)</translation>
    </message>
    <message>
        <source>出力をゴミ箱に移動(&amp;T)</source>
        <translation>出力をゴミ箱に移動(&amp;T)</translation>
    </message>
</context>
<context>
    <name>JobRow</name>
    <message>
        <source>Finderで表示</source>
        <translation>ファイルマネージャで表示</translation>
    </message>
</context>
<context>
    <name>JobSummary</name>
    <message>
        <source>完了 %1 / スキップ %2 / 失敗 %3 / 全 %4</source>
        <translation>完了 %1 / スキップ %2 / 失敗 %3 / 全 %4</translation>
    </message>
    <message>
        <source>待機中</source>
        <translation>待機中</translation>
    </message>
    <message>
        <source>処理中…</source>
        <translation>処理中…</translation>
    </message>
    <message>
        <source>%1（%2% 削減）</source>
        <translation>%1（%2% 削減）</translation>
    </message>
    <message>
        <source>%1（%2% 増加）</source>
        <translation>%1（%2% 増加）</translation>
    </message>
</context>
<context>
    <name>KorrinMacApp</name>
    <message>
        <source>ブリソラ</source>
        <translation>ブリソラ</translation>
    </message>
    <message>
        <source>ファイルを開く</source>
        <translation>ファイルを開く</translation>
    </message>
    <message>
        <source>ブリソラについて</source>
        <translation>ブリソラについて</translation>
    </message>
    <message>
        <source>使い方: burisora [ファイルまたはフォルダ...]
画像を一括で縮小・再エンコードするウィンドウを開きます。指定したファイルと
フォルダは一つのバッチとして処理されます。ウィンドウがすでに開いていれば、
そのウィンドウが受け取ります。スクリプトからは burisora-cli を使います。

  --help     この説明を表示して終了
  --version  バージョンを表示して終了
</source>
        <translation>使い方: burisora [ファイルまたはフォルダ...]
画像を一括で縮小・再エンコードするウィンドウを開きます。指定したファイルと
フォルダは一つのバッチとして処理されます。ウィンドウがすでに開いていれば、
そのウィンドウが受け取ります。スクリプトからは burisora-cli を使います。

  --help     この説明を表示して終了
  --version  バージョンを表示して終了
</translation>
    </message>
    <message>
        <source>処理が終わりました</source>
        <translation>処理が終わりました</translation>
    </message>
    <message>
        <source>ファイルを開く(&amp;O)…</source>
        <translation>ファイルを開く(&amp;O)…</translation>
    </message>
    <message>
        <source>ツールバーのその他の項目</source>
        <translation>ツールバーのその他の項目</translation>
    </message>
    <message>
        <source>ファイル(&amp;F)</source>
        <translation>ファイル(&amp;F)</translation>
    </message>
    <message>
        <source>終了(&amp;Q)</source>
        <translation>終了(&amp;Q)</translation>
    </message>
    <message>
        <source>ヘルプ(&amp;H)</source>
        <translation>ヘルプ(&amp;H)</translation>
    </message>
    <message>
        <source>ブリソラについて(&amp;A)</source>
        <translation>ブリソラについて(&amp;A)</translation>
    </message>
    <message>
        <source>処理中です。停止して終了しますか？</source>
        <translation>処理中です。停止して終了しますか？</translation>
    </message>
    <message>
        <source>変換中のファイルは書き終えてから終了します。まだ始まっていないファイルは処理されません。</source>
        <translation>変換中のファイルは書き終えてから終了します。まだ始まっていないファイルは処理されません。</translation>
    </message>
    <message>
        <source>停止して終了</source>
        <translation>停止して終了</translation>
    </message>
    <message>
        <source>処理を続ける</source>
        <translation>処理を続ける</translation>
    </message>
</context>
<context>
    <name>OpenImagesDialog</name>
    <message>
        <source>画像</source>
        <translation>画像</translation>
    </message>
    <message>
        <source>リサイズする画像を選択</source>
        <translation>リサイズする画像を選択</translation>
    </message>
</context>
<context>
    <name>OutputFormat</name>
    <message>
        <source>元と同じ</source>
        <translation>元と同じ</translation>
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
        <translation>リサイズ設定</translation>
    </message>
    <message>
        <source>処理中 — 設定変更は次のバッチから適用されます</source>
        <translation>処理中 — 設定変更は次のバッチから適用されます</translation>
    </message>
    <message>
        <source>長辺サイズ</source>
        <translation>長辺サイズ</translation>
    </message>
    <message>
        <source>px</source>
        <translation>px</translation>
    </message>
    <message>
        <source>JPEG画質</source>
        <translation>JPEG画質</translation>
    </message>
    <message>
        <source>出力フォーマット</source>
        <translation>出力フォーマット</translation>
    </message>
    <message>
        <source>ファイル名プレフィックス</source>
        <translation>ファイル名プレフィックス</translation>
    </message>
    <message>
        <source>なし</source>
        <translation>なし</translation>
    </message>
    <message>
        <source>例: thumb_</source>
        <translation>例: thumb_</translation>
    </message>
    <message>
        <source>保存先フォルダ名</source>
        <translation>保存先フォルダ名</translation>
    </message>
    <message>
        <source>Resized</source>
        <translation>Resized</translation>
    </message>
    <message>
        <source>(元画像と同じ階層に作成)</source>
        <translation>(元画像と同じ階層に作成)</translation>
    </message>
    <message>
        <source>EXIF・GPS情報を保持</source>
        <translation>EXIF・GPS情報を保持</translation>
    </message>
    <message>
        <source>オフにするとプライバシー情報を削除</source>
        <translation>オフにするとプライバシー情報を削除</translation>
    </message>
    <message>
        <source>拡大しない</source>
        <translation>拡大しない</translation>
    </message>
    <message>
        <source>元画像が小さい場合はリサイズせず再エンコードのみ</source>
        <translation>元画像が小さい場合はリサイズせず再エンコードのみ</translation>
    </message>
    <message>
        <source>長辺サイズ (px)</source>
        <translation>長辺サイズ (px)</translation>
    </message>
    <message>
        <source>ファイルサイズの上限</source>
        <translation>ファイルサイズの上限</translation>
    </message>
    <message>
        <source>カスタム</source>
        <translation>カスタム</translation>
    </message>
    <message>
        <source>ファイルサイズの上限 (KB)</source>
        <translation>ファイルサイズの上限 (KB)</translation>
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
        <translation>カスタム</translation>
    </message>
</context>
<context>
    <name>Updater</name>
    <message>
        <source>暗号化されていないアドレスへの転送を拒否しました。</source>
        <translation>暗号化されていないアドレスへの転送を拒否しました。</translation>
    </message>
    <message>
        <source>アップデートを確認中…</source>
        <translation>アップデートを確認中…</translation>
    </message>
    <message>
        <source>アップデートを確認できませんでした</source>
        <translation>アップデートを確認できませんでした</translation>
    </message>
    <message>
        <source>アップデート情報のアドレスが https ではありません。</source>
        <translation>アップデート情報のアドレスが https ではありません。</translation>
    </message>
    <message>
        <source>アップデート情報が大きすぎます。</source>
        <translation>アップデート情報が大きすぎます。</translation>
    </message>
    <message>
        <source>安全な接続を確立できませんでした。</source>
        <translation>安全な接続を確立できませんでした。</translation>
    </message>
    <message>
        <source>サーバが応答しませんでした。</source>
        <translation>サーバが応答しませんでした。</translation>
    </message>
    <message>
        <source>サーバに接続できませんでした。</source>
        <translation>サーバに接続できませんでした。</translation>
    </message>
    <message>
        <source>サーバがエラーを返しました（HTTP %1）。</source>
        <translation>サーバがエラーを返しました（HTTP %1）。</translation>
    </message>
    <message>
        <source>通信に失敗しました。</source>
        <translation>通信に失敗しました。</translation>
    </message>
    <message>
        <source>アップデート情報の形式が正しくありません。</source>
        <translation>アップデート情報の形式が正しくありません。</translation>
    </message>
    <message>
        <source>ブリソラは最新です</source>
        <translation>ブリソラは最新です</translation>
    </message>
    <message>
        <source>お使いのバージョン %1 が最新のバージョンです。</source>
        <translation>お使いのバージョン %1 が最新のバージョンです。</translation>
    </message>
    <message>
        <source>新しいバージョンの情報に、確認に必要な大きさまたは署名がありません。</source>
        <translation>新しいバージョンの情報に、確認に必要な大きさまたは署名がありません。</translation>
    </message>
    <message>
        <source>新しいバージョン %1 があります</source>
        <translation>新しいバージョン %1 があります</translation>
    </message>
    <message>
        <source>お使いのバージョンは %1 です。ダウンロードしますか？</source>
        <translation>お使いのバージョンは %1 です。ダウンロードしますか？</translation>
    </message>
    <message>
        <source>アップデートをダウンロードできませんでした</source>
        <translation>アップデートをダウンロードできませんでした</translation>
    </message>
    <message>
        <source>暗号化されていないアドレスからはダウンロードしません。</source>
        <translation>暗号化されていないアドレスからはダウンロードしません。</translation>
    </message>
    <message>
        <source>ファイル %1 を作成できませんでした。</source>
        <translation>ファイル %1 を作成できませんでした。</translation>
    </message>
    <message>
        <source>バージョン %1 をダウンロード中…</source>
        <translation>バージョン %1 をダウンロード中…</translation>
    </message>
    <message>
        <source>ファイルが更新情報に書かれた大きさを超えました。</source>
        <translation>ファイルが更新情報に書かれた大きさを超えました。</translation>
    </message>
    <message>
        <source>ファイルを書き込めませんでした。</source>
        <translation>ファイルを書き込めませんでした。</translation>
    </message>
    <message>
        <source>ダウンロードしたファイルは削除しました。</source>
        <translation>ダウンロードしたファイルは削除しました。</translation>
    </message>
    <message>
        <source>ダウンロードを中止しました。</source>
        <translation>ダウンロードを中止しました。</translation>
    </message>
    <message>
        <source>ファイルの大きさが更新情報と一致しません。</source>
        <translation>ファイルの大きさが更新情報と一致しません。</translation>
    </message>
    <message>
        <source>ファイルの署名を確認できませんでした。</source>
        <translation>ファイルの署名を確認できませんでした。</translation>
    </message>
    <message>
        <source>バージョン %1 をダウンロードしました</source>
        <translation>バージョン %1 をダウンロードしました</translation>
    </message>
    <message>
        <source>署名を確認しました。ファイル %1 を開いてインストールしてください。</source>
        <translation>署名を確認しました。ファイル %1 を開いてインストールしてください。</translation>
    </message>
</context>
<context>
    <name>UpdaterDialog</name>
    <message>
        <source>ダウンロード</source>
        <translation>ダウンロード</translation>
    </message>
    <message>
        <source>ソフトウェア・アップデート</source>
        <translation>ソフトウェア・アップデート</translation>
    </message>
    <message>
        <source>キャンセル</source>
        <translation>キャンセル</translation>
    </message>
    <message>
        <source>後で</source>
        <translation>後で</translation>
    </message>
    <message>
        <source>閉じる</source>
        <translation>閉じる</translation>
    </message>
    <message>
        <source>リリースノートを開く</source>
        <translation>リリースノートを開く</translation>
    </message>
</context>
<context>
    <name>WorkerProtocol</name>
    <message>
        <source>画像の処理が異常終了しました</source>
        <translation>画像の処理が異常終了しました</translation>
    </message>
    <message>
        <source>画像の処理に時間がかかりすぎたため中止しました</source>
        <translation>画像の処理に時間がかかりすぎたため中止しました</translation>
    </message>
    <message>
        <source>画像を処理するプロセスを開始できませんでした</source>
        <translation>画像を処理するプロセスを開始できませんでした</translation>
    </message>
</context>
</TS>
