#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Fills the translation tables after `cmake --build <dir> --target burisora_core_lupdate`.

The Japanese texts are the keys. The Japanese table repeats them, except where
the Linux wording differs; the English table holds the English texts below.
Keys without an English text stay unfinished and show as the Japanese key.
"""
import pathlib
import xml.etree.ElementTree as ET

HERE = pathlib.Path(__file__).resolve().parent

JAPANESE = {
    "Finderで表示": "ファイルマネージャで表示",
}

ENGLISH = {
    "ブリソラ": "Burisora",
    "ファイルを開く": "Open Files",
    "ブリソラについて": "About Burisora",
    "ファイルを開く(&O)…": "&Open Files…",
    "ファイル(&F)": "&File",
    "終了(&Q)": "&Quit",
    "ヘルプ(&H)": "&Help",
    "ブリソラについて(&A)": "&About Burisora",
    "更新を確認(&U)…": "Check for &Updates…",
    "処理中です。停止して終了しますか？": "Processing is under way. Stop and quit?",
    "変換中のファイルは書き終えてから終了します。まだ始まっていないファイルは処理されません。":
        "Files being converted are finished first; files not started yet are left undone.",
    "停止して終了": "Stop and Quit",
    "ツールバーのその他の項目": "More Toolbar Items",
    "処理を続ける": "Keep Working",
    "停止": "Stop",
    "進行状況": "Progress",
    "ファイルマネージャで表示(&R)": "&Show in File Manager",
    "開く(&O)": "&Open",
    "コピー(&C)": "&Copy",
    "出力をゴミ箱に移動(&T)": "Move Output to &Trash",
    # What a screen reader says of a row: file, state, second line.
    "未処理": "waiting",
    "処理中": "processing",
    "完了": "done",
    "スキップ": "skipped",
    "失敗": "failed",
    "、": ", ",
    "画像": "Images",
    "ここに画像をドロップ": "Drop images here",
    "JPEG / PNG / HEIC / TIFF / WebP / GIF / AVIF / JPEG XL": "JPEG / PNG / HEIC / TIFF / WebP / GIF / AVIF / JPEG XL",
    "処理中は実行中の項目を保持します": "Items in progress are kept while processing",
    "すべての項目を消去": "Remove all items",
    "処理結果": "Results",
    "完了をクリア": "Clear Finished",
    "全クリア": "Clear All",
    "まだ何も処理していません": "Nothing processed yet",
    "Finderで表示": "Show in File Manager",
    "%lld%": "%lld%",
    "リサイズ設定": "Resize Settings",
    "処理中 — 設定変更は次のバッチから適用されます":
        "Processing — changes apply from the next batch",
    "長辺サイズ": "Long Edge",
    "長辺サイズ (px)": "Long Edge (px)",
    "px": "px",
    "KB": "KB",
    "ファイルサイズの上限": "File size limit",
    "ファイルサイズの上限 (KB)": "File size limit (KB)",
    "%1 に収まりませんでした": "Does not fit in %1",
    "%1（%2% 削減）": "%1 (%2% smaller)",
    "%1（%2% 増加）": "%1 (%2% larger)",
    "JPEG画質": "JPEG Quality",
    "出力フォーマット": "Output Format",
    "ファイル名プレフィックス": "File Name Prefix",
    "なし": "None",
    "例: thumb_": "e.g. thumb_",
    "保存先フォルダ名": "Output Folder Name",
    "Resized": "Resized",
    "(元画像と同じ階層に作成)": "(created beside the originals)",
    "EXIF・GPS情報を保持": "Keep EXIF and GPS data",
    "オフにするとプライバシー情報を削除": "When off, private metadata is removed",
    "拡大しない": "Don't enlarge",
    "元画像が小さい場合はリサイズせず再エンコードのみ":
        "Smaller originals are only re-encoded, not resized",
    "暗号化されていないアドレスへの転送を拒否しました。":
        "A redirect to an unencrypted address was refused.",
    "アップデートを確認中…": "Checking for updates…",
    "アップデートを確認できませんでした": "Couldn't check for updates",
    "アップデート情報のアドレスが https ではありません。":
        "The update feed address is not https.",
    "アップデート情報が大きすぎます。": "The update feed is too large.",
    "安全な接続を確立できませんでした。": "A secure connection could not be established.",
    "サーバが応答しませんでした。": "The server did not respond.",
    "サーバに接続できませんでした。": "Could not connect to the server.",
    "サーバがエラーを返しました（HTTP %1）。": "The server returned an error (HTTP %1).",
    "通信に失敗しました。": "The transfer failed.",
    "アップデート情報の形式が正しくありません。": "The update feed is malformed.",
    "ブリソラは最新です": "Burisora is up to date",
    "お使いのバージョン %1 が最新のバージョンです。": "Version %1 is the newest version.",
    "新しいバージョンの情報に、確認に必要な大きさまたは署名がありません。":
        "The new version's entry lacks the size or signature needed to verify it.",
    "新しいバージョン %1 があります": "Version %1 is available",
    "お使いのバージョンは %1 です。ダウンロードしますか？":
        "You have version %1. Download the new one?",
    "アップデートをダウンロードできませんでした": "Couldn't download the update",
    "暗号化されていないアドレスからはダウンロードしません。":
        "Downloads from unencrypted addresses are refused.",
    "ファイル %1 を作成できませんでした。": "Could not create the file %1.",
    "バージョン %1 をダウンロード中…": "Downloading version %1…",
    "ファイルが更新情報に書かれた大きさを超えました。":
        "The file is larger than the update feed says.",
    "ファイルを書き込めませんでした。": "The file could not be written.",
    "ダウンロードしたファイルは削除しました。": "The downloaded file was deleted.",
    "ダウンロードを中止しました。": "The download was cancelled.",
    "ファイルの大きさが更新情報と一致しません。":
        "The file's size does not match the update feed.",
    "ファイルの署名を確認できませんでした。": "The file's signature could not be verified.",
    "バージョン %1 をダウンロードしました": "Version %1 downloaded",
    "署名を確認しました。ファイル %1 を開いてインストールしてください。":
        "The signature is verified. Open %1 to install it.",
    "ダウンロード": "Download",
    "ソフトウェア・アップデート": "Software Update",
    "キャンセル": "Cancel",
    "後で": "Later",
    "閉じる": "Close",
    "リリースノートを開く": "Open Release Notes",
    "処理が終わりました": "Processing finished",
    "リサイズする画像を選択": "Choose Images to Resize",
    "元と同じ": "Same as Original",
    "カスタム": "Custom",
    # Texts of the engine: the summary, second lines, reasons and messages.
    "完了 %1 / スキップ %2 / 失敗 %3 / 全 %4": "Done %1 / Skipped %2 / Failed %3 / All %4",
    "待機中": "Waiting",
    "処理中…": "Processing…",
    "停止しました": "Stopped",
    "通常ファイルではありません": "Not a regular file",
    "ファイルの読み取り権限がありません": "No permission to read the file",
    "画像が大きすぎます (%1x%2)": "Image too large (%1x%2)",
    "予期しないエラーが発生しました": "An unexpected error occurred",
    "画像の処理が異常終了しました": "Processing of this image ended abnormally",
    "画像の処理に時間がかかりすぎたため中止しました":
        "Processing this image took too long and was stopped",
    "画像を処理するプロセスを開始できませんでした":
        "The process that handles images could not be started",
    "画像ファイルを開けませんでした": "Could not open the image file",
    "画像のメタデータを読み取れませんでした": "Could not read the image's metadata",
    "リサイズに失敗しました": "Resizing failed",
    "出力ファイルを作成できませんでした": "Could not create the output file",
    "画像の書き出しに失敗しました": "Could not write the image",
    "出力フォルダが想定外の場所を指しています": "The output folder points somewhere unexpected",
    "同名ファイルが多すぎます": "Too many files with the same name",
    "ファイル名が長すぎます": "The file name is too long",
    "HEIC で書き出すには画像が大きすぎます": "The image is too large to write as HEIC",
    "AVIF で書き出すには画像が大きすぎます": "The image is too large to write as AVIF",
    "WebP で書き出すには画像が大きすぎます": "The image is too large to write as WebP",
    "元の画像のメタデータを読み取れませんでした": "The source's metadata could not be read",
    "画像データが壊れているか、途中で切れています": "The image data is damaged or incomplete",
    "この種類の画像には対応していません": "This kind of image is not supported",
    "メタデータを出力に書き込めませんでした": "The metadata could not be written into the output",
    "使い方: burisora [ファイルまたはフォルダ...]\n"
    "画像を一括で縮小・再エンコードするウィンドウを開きます。指定したファイルと\n"
    "フォルダは一つのバッチとして処理されます。ウィンドウがすでに開いていれば、\n"
    "そのウィンドウが受け取ります。スクリプトからは burisora-cli を使います。\n"
    "\n"
    "  --help     この説明を表示して終了\n"
    "  --version  バージョンを表示して終了\n":
        "Usage: burisora [FILE_OR_FOLDER...]\n"
        "Opens the window that shrinks and re-encodes images in batches. The files\n"
        "and folders given are processed as one batch; when the window is open\n"
        "already, that window takes them. For scripts, use burisora-cli.\n"
        "\n"
        "  --help     show this help and exit\n"
        "  --version  show the version and exit\n",
}


def fill(path: pathlib.Path, table, identity: bool) -> list:
    tree = ET.parse(path)
    missing = []
    for message in tree.getroot().iter("message"):
        source = message.findtext("source")
        translation = message.find("translation")
        text = table.get(source, source if identity else None)
        if text is None and translation.text and translation.get("type") != "unfinished":
            continue  # translated by hand in Linguist: keep it
        if text is None:
            translation.text = None
            translation.set("type", "unfinished")
            missing.append(source)
            continue
        translation.text = text
        translation.attrib.pop("type", None)
    ET.indent(tree, space="    ")
    body = ET.tostring(tree.getroot(), encoding="unicode").replace("'", "&apos;")
    # lupdate's layout: contexts start at the left margin.
    lines = [line[4:] if line.startswith("    ") else line for line in body.splitlines()]
    with open(path, "w", encoding="utf-8") as f:
        f.write('<?xml version="1.0" encoding="utf-8"?>\n<!DOCTYPE TS>\n')
        f.write("\n".join(lines) + "\n")
    return missing


if __name__ == "__main__":
    fill(HERE / "burisora_ja.ts", JAPANESE, identity=True)
    for source in fill(HERE / "burisora_en.ts", ENGLISH, identity=False):
        print("no English text yet:", source)
