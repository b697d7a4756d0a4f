<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja_JP">
<context>
    <name>CtView</name>
    <message>
        <source>About</source>
        <translation>バージョン情報</translation>
    </message>
    <message>
        <source>About Oxa</source>
        <translation>Oxa について</translation>
    </message>
    <message>
        <source>A viewer for stacks of two-dimensional measurement slices.</source>
        <translation>2 次元計測スライスの積層を表示するビューアです。</translation>
    </message>
    <message>
        <source>Qt %1 (built with Qt %2)</source>
        <translation>Qt %1(ビルド時 Qt %2)</translation>
    </message>
    <message>
        <source>Libraries and their licences:</source>
        <translation>使用ライブラリとライセンス:</translation>
    </message>
    <message>
        <source>Qt: GNU Lesser General Public License, version 3</source>
        <translation>Qt: GNU 劣等一般公衆利用許諾書 (LGPL) 第 3 版</translation>
    </message>
    <message>
        <source>libtiff: the libtiff licence (BSD-style)</source>
        <translation>libtiff: libtiff ライセンス (BSD 形式)</translation>
    </message>
    <message>
        <source>DCMTK: BSD-style licences</source>
        <translation>DCMTK: BSD 形式のライセンス</translation>
    </message>
    <message>
        <source>GDCM: BSD-style licence</source>
        <translation>GDCM: BSD 形式のライセンス</translation>
    </message>
    <message>
        <source>ITK: Apache License 2.0</source>
        <translation>ITK: Apache License 2.0</translation>
    </message>
    <message>
        <source>c-blosc: BSD 3-clause licence</source>
        <translation>c-blosc: BSD 3条項ライセンス</translation>
    </message>
    <message>
        <source>Zstandard: BSD licence</source>
        <translation>Zstandard: BSD ライセンス</translation>
    </message>
    <message>
        <source>zlib: the zlib licence</source>
        <translation>zlib: zlib ライセンス</translation>
    </message>
    <message>
        <source>NIfTI library (nifticlib): public domain</source>
        <translation>NIfTI ライブラリ (nifticlib): パブリックドメイン</translation>
    </message>
    <message>
        <source>Add Slice Set</source>
        <translation>スライスセット追加</translation>
    </message>
    <message>
        <source>Img Size in Pix</source>
        <translation>生成画像サイズ</translation>
    </message>
    <message>
        <source>Link C. Section</source>
        <translation>断面連動</translation>
    </message>
    <message>
        <source>Save Session…</source>
        <translation>セッション保存…</translation>
    </message>
    <message>
        <source>Open Session…</source>
        <translation>セッションを開く…</translation>
    </message>
    <message>
        <source>Saves the files, the settings of every set and the view as a session file (Ctrl+Shift+S)</source>
        <translation>ファイル、各セットの設定と視点をセッションファイルに保存します (Ctrl+Shift+S)</translation>
    </message>
    <message>
        <source>Opens a session file: loads its files and restores every setting and the view (Ctrl+Shift+O)</source>
        <translation>セッションファイルを開き、そのファイルを読み込んで全ての設定と視点を復元します (Ctrl+Shift+O)</translation>
    </message>
    <message>
        <source>Session</source>
        <translation>セッション</translation>
    </message>
    <message>
        <source>Save Session</source>
        <translation>セッション保存</translation>
    </message>
    <message>
        <source>Open Session</source>
        <translation>セッションを開く</translation>
    </message>
    <message>
        <source>Sessions (*.oxa)</source>
        <translation>セッション (*.oxa)</translation>
    </message>
    <message>
        <source>Sessions (*.oxa);;Any Files (*)</source>
        <translation>セッション (*.oxa);;全てのファイル (*)</translation>
    </message>
    <message>
        <source>The session could not be saved to %1:
%2</source>
        <translation>セッションを %1 に保存できませんでした:
%2</translation>
    </message>
    <message>
        <source>The session %1 could not be opened:
%2</source>
        <translation>セッション %1 を開けませんでした:
%2</translation>
    </message>
    <message>
        <source>These slice files of the session are missing:
%1</source>
        <translation>セッションの次のスライスファイルが見つかりません:
%1</translation>
    </message>
    <message>
        <source>and %1 more</source>
        <translation>ほか %1 件</translation>
    </message>
    <message>
        <source>Fit</source>
        <translation>全体表示</translation>
    </message>
    <message>
        <source>Turns the view back to look along the stack and zooms so that every set fills the picture (F, Home)</source>
        <translation>視線をスライスの積み重ね方向に戻し、全てのセットが画像いっぱいに収まるように拡大縮小します (F, Home)</translation>
    </message>
    <message>
        <source>Sampling</source>
        <translation>サンプリング</translation>
    </message>
    <message>
        <source>Slices</source>
        <translation>スライス</translation>
    </message>
    <message>
        <source>Voxels</source>
        <translation>ボクセル</translation>
    </message>
    <message>
        <source>Slices: one sample where a ray crosses each slice plane. Voxels: a sample at every voxel step along the ray, so views from the side show the whole volume.</source>
        <translation>スライス: 視線が各スライス面を横切る点で 1 回ずつ値を取ります。ボクセル: 視線に沿ってボクセルごとに値を取るので、横から見ても全体が表示されます。</translation>
    </message>
    <message>
        <source>Fit on load</source>
        <translation>読み込み時に全体表示</translation>
    </message>
    <message>
        <source>Fits the view after every load</source>
        <translation>読み込みのたびに全体表示にします</translation>
    </message>
    <message>
        <source>Picture follows window</source>
        <translation>画像サイズを表示領域に合わせる</translation>
    </message>
    <message>
        <source>Makes the picture size follow the display area, so the picture is shown sharp and undistorted; the saved size is then the display's</source>
        <translation>画像サイズを表示領域に合わせ、歪みのない鮮明な表示にします。保存される画像もそのサイズになります</translation>
    </message>
    <message>
        <source>An SVG picture can be at most 8192 × 8192 pixels.</source>
        <translation>SVG 画像は最大 8192 × 8192 ピクセルです。</translation>
    </message>
    <message>
        <source>The file name must end in a picture format's suffix, such as .png or .svg.</source>
        <translation>ファイル名は .png や .svg など画像形式の拡張子で終わる必要があります。</translation>
    </message>
    <message>
        <source>The picture could not be saved to %1:
%2</source>
        <translation>画像を %1 に保存できませんでした:
%2</translation>
    </message>
    <message>
        <source>Width and height of the picture in pixels; small sizes turn quickly</source>
        <translation>生成する画像の幅と高さ (ピクセル)。小さいほど素早く回転できます</translation>
    </message>
    <message>
        <source>Adds a panel for another slice set, drawn over the ones before it</source>
        <translation>別のスライスセット用のパネルを追加します。前のセットの上に重ねて描画されます</translation>
    </message>
    <message>
        <source>Moves the cross-section of every set together</source>
        <translation>全てのセットの断面を連動して動かします</translation>
    </message>
    <message>
        <source>Version, Qt version and licences</source>
        <translation>バージョン、Qt のバージョンとライセンス</translation>
    </message>
    <message>
        <source>Save Image</source>
        <translation>画像保存</translation>
    </message>
    <message>
        <source>Supported File Types are : %1
 and also SVG.</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;下記の拡張子のファイルに加えて SVG ファイルが利用可能です&lt;/p&gt;&lt;p&gt;%1&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;The size of screen. Firstly, they should be so small as 256 to work quickly. When the settings, like obserbing direction, position of closs-section, and color range, are decided, it should be set larger as 1024 or so to get high resolution results.&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>生成する画像のピクセルサイズ。最初は 256 程度の小さな値にしておき、諸条件(観察方向、断面位置、描画値の閾値等)が決まった時点で、高解像度の画像にするため 1024 程度の値にするのが良い。</translation>
    </message>
    <message>
        <source>Views</source>
        <translation>表示</translation>
    </message>
    <message>
        <source>3D</source>
        <translation>3D</translation>
    </message>
    <message>
        <source>3D + slices</source>
        <translation>3D + 断面</translation>
    </message>
    <message>
        <source>Along the stack</source>
        <translation>積層方向</translation>
    </message>
    <message>
        <source>Across columns</source>
        <translation>列方向の断面</translation>
    </message>
    <message>
        <source>Across rows</source>
        <translation>行方向の断面</translation>
    </message>
    <message>
        <source>The picture alone, the picture with three slice views, or one slice view</source>
        <translation>画像のみ、画像と3つの断面表示、または断面表示1つ</translation>
    </message>
    <message>
        <source>Crosshair</source>
        <translation>十字線</translation>
    </message>
    <message>
        <source>Marks the slice views' crosshair on the picture</source>
        <translation>断面表示の十字線の位置を画像に示します</translation>
    </message>
    <message>
        <source>at %1</source>
        <translation>位置 %1</translation>
    </message>
    <message>
        <source>set %1 [%2, %3, %4] %5</source>
        <translation>セット %1 [%2, %3, %4] %5</translation>
    </message>
    <message>
        <source>set %1 no value</source>
        <translation>セット %1 値なし</translation>
    </message>
    <message>
        <source>pixel %1, %2</source>
        <translation>画素 %1, %2</translation>
    </message>
    <message>
        <source>set %1 [%2, %3, %4] at %5: %6</source>
        <translation>セット %1 [%2, %3, %4] 位置 %5: %6</translation>
    </message>
    <message>
        <source>Ruler</source>
        <translation>定規</translation>
    </message>
    <message>
        <source>Profile</source>
        <translation>プロファイル</translation>
    </message>
    <message>
        <source>Rectangle</source>
        <translation>矩形</translation>
    </message>
    <message>
        <source>Ellipse</source>
        <translation>楕円</translation>
    </message>
    <message>
        <source>%1 %2</source>
        <translation>%1 %2</translation>
    </message>
    <message>
        <source>Export Measurements</source>
        <translation>計測の書き出し</translation>
    </message>
    <message>
        <source>CSV files (*.csv)</source>
        <translation>CSVファイル (*.csv)</translation>
    </message>
    <message>
        <source>The measurements could not be saved to %1:
%2</source>
        <translation>計測を %1 に保存できませんでした:
%2</translation>
        <source>Background</source>
        <translation>背景</translation>
    </message>
    <message>
        <source>White</source>
        <translation>白</translation>
    </message>
    <message>
        <source>Black</source>
        <translation>黒</translation>
    </message>
    <message>
        <source>The colour the sets are drawn over, on screen and in saved pictures</source>
        <translation>画面と保存画像でスライスセットの下に敷く色</translation>
    </message>
    <message>
        <source>Save at</source>
        <translation>保存倍率</translation>
    </message>
    <message>
        <source>%1 × pixels</source>
        <translation>%1 倍の画素</translation>
    </message>
    <message>
        <source>Save Image writes the picture shown at this many times its pixels: the same view, sharper</source>
        <translation>画像保存で、表示中の画像をこの倍率の画素数で書き出します: 同じ見え方で、より精細に</translation>
    </message>
    <message>
        <source>A picture of %1 × %2 pixels cannot be made.</source>
        <translation>%1 × %2 画素の画像は作れません。</translation>
    </message>
    <message>
        <source>Scale bar</source>
        <translation>スケールバー</translation>
    </message>
    <message>
        <source>A bar of a round length in the files' unit, in the picture and every saved picture</source>
        <translation>ファイルの単位で切りのよい長さのバー (画像と保存するすべての画像に描きます)</translation>
    </message>
    <message>
        <source>Directions</source>
        <translation>方向</translation>
    </message>
    <message>
        <source>The directions at the picture's edges: the patient's (R, L, A, P, S, I) where a DICOM series gives them, else the volume's axes</source>
        <translation>画像の端の方向: DICOM シリーズが示す患者の方向 (R, L, A, P, S, I)、なければ立体の軸</translation>
    </message>
    <message>
        <source>Colour bar</source>
        <translation>カラーバー</translation>
    </message>
    <message>
        <source>A colour bar per shown set with its window's ends in the set's units</source>
        <translation>表示中のセットごとのカラーバー (表示範囲の両端をセットの単位で示します)</translation>
    </message>
</context>
<context>
    <name>LoadSlices</name>
    <message>
        <source>Load Slices</source>
        <translation>Load Slices</translation>
    </message>
    <message>
        <source>Select</source>
        <translation>選択</translation>
    </message>
</context>
<context>
    <name>SlicesCtrl</name>
    <message>
        <source>Log counts</source>
        <translation>対数表示</translation>
    </message>
    <message>
        <source>Draws the histogram's counts on a logarithmic scale</source>
        <translation>ヒストグラムの度数を対数目盛で表示します</translation>
    </message>
    <message>
        <source>Folds or unfolds this panel</source>
        <translation>このパネルを折りたたみ/展開します</translation>
    </message>
    <message>
        <source>Draws the set's maximum-intensity projection</source>
        <translation>セットの最大値投影を描画します</translation>
    </message>
    <message>
        <source>Cuts the set at the cross-section plane and shows the cut face in the section colour</source>
        <translation>断面でセットを切り、切り口を断面色で表示します</translation>
    </message>
    <message>
        <source>Draws the set's bounding box</source>
        <translation>セットの外枠を描画します</translation>
    </message>
    <message>
        <source>The value at 0 % of the colour scale (the set's smallest value after a load)</source>
        <translation>色スケールの 0 % に当たる値 (読み込み後はセットの最小値)</translation>
    </message>
    <message>
        <source>The value at 100 % of the colour scale (the set's largest value after a load)</source>
        <translation>色スケールの 100 % に当たる値 (読み込み後はセットの最大値)</translation>
    </message>
    <message>
        <source>Lower end of the display window, in data units; smaller values are not drawn</source>
        <translation>表示範囲の下端 (データの単位)。これより小さい値は描画されません</translation>
    </message>
    <message>
        <source>Upper end of the display window, in data units; larger values are not drawn</source>
        <translation>表示範囲の上端 (データの単位)。これより大きい値は描画されません</translation>
    </message>
    <message>
        <source>Lower end of the display window, in percent of the colour scale</source>
        <translation>表示範囲の下端 (色スケールに対する %)</translation>
    </message>
    <message>
        <source>Upper end of the display window, in percent of the colour scale</source>
        <translation>表示範囲の上端 (色スケールに対する %)</translation>
    </message>
    <message>
        <source>Histogram of the set's values; drag a red line to move a window end</source>
        <translation>セットの値のヒストグラム。赤線をドラッグすると表示範囲の端を動かせます</translation>
    </message>
    <message>
        <source>Position of the cross-section plane, from one end of the set to the other</source>
        <translation>断面の位置 (セットの一端から他端まで)</translation>
    </message>
    <message>
        <source>Keeps the cross-section plane's direction when the view turns</source>
        <translation>視点を回しても断面の向きを固定します</translation>
    </message>
    <message>
        <source>Chooses the slice files of this set, in stack order</source>
        <translation>このセットのスライスファイルを積み重ね順に選びます</translation>
    </message>
    <message>
        <source>The files of the set in stack order</source>
        <translation>セットのファイル (積み重ね順)</translation>
    </message>
    <message>
        <source>Colour of the projection</source>
        <translation>投影の色</translation>
    </message>
    <message>
        <source>Colour of the cut face</source>
        <translation>切り口の色</translation>
    </message>
    <message>
        <source>Opacity of the set: 0 transparent to 255 opaque</source>
        <translation>セットの不透明度: 0 で透明、255 で不透明</translation>
    </message>
    <message>
        <source>Color Scale: </source>
        <translation>色スケール</translation>
    </message>
    <message>
        <source>Cross Section</source>
        <translation>断面位置</translation>
    </message>
    <message>
        <source>Fix Dir.</source>
        <translation>断面方向固定</translation>
    </message>
    <message>
        <source>Load Slices</source>
        <translation>Load Slices</translation>
    </message>
    <message>
        <source>S Color</source>
        <translation>断面色</translation>
    </message>
    <message>
        <source>V Color</source>
        <translation>体積色</translation>
    </message>
    <message>
        <source>Select</source>
        <translation>選択</translation>
    </message>
    <message>
        <source>Select Data Files</source>
        <translation>データファイル選択</translation>
    </message>
    <message>
        <source>Remove this slice set</source>
        <translation>このスライスセットを削除</translation>
    </message>
    <message>
        <source>Select Section Color</source>
        <translation>断面色選択</translation>
    </message>
    <message>
        <source>Select Volume Color</source>
        <translation>体積色選択</translation>
    </message>
    <message>
        <source>Show</source>
        <translation>設定表示</translation>
    </message>
    <message>
        <source>Show C. Section</source>
        <translation>断面表示</translation>
    </message>
    <message>
        <source>Show Frame</source>
        <translation>枠表示</translation>
    </message>
    <message>
        <source>Show Volume</source>
        <translation>体積表示</translation>
    </message>
    <message>
        <source>Show Setup %1</source>
        <translation>設定%1表示</translation>
    </message>
    <message>
        <source>a</source>
        <translation>α</translation>
    </message>
    <message>
        <source>max</source>
        <translation>最大値</translation>
    </message>
    <message>
        <source>min</source>
        <translation>最小値</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;Opacity of the object. &lt;/p&gt;&lt;p&gt;255 : no transpparency (anything behind is invisible )&lt;/p&gt;&lt;p&gt;0 : perfectry transparent ( the object itself is invisible )&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;描画対象の透明さ/不透明さの度合い&lt;/p&gt;&lt;p&gt;255 : 完全に不透明(背後にあるものは全く見えません)&lt;/p&gt;&lt;p&gt;0 : 完全に透明(描画対象自身が全く見えなくなります)&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>Spacing</source>
        <translation>間隔</translation>
    </message>
    <message>
        <source>Column step</source>
        <translation>列の間隔</translation>
    </message>
    <message>
        <source>Row step</source>
        <translation>行の間隔</translation>
    </message>
    <message>
        <source>Slice step</source>
        <translation>スライスの間隔</translation>
    </message>
    <message>
        <source>%v of %m files</source>
        <translation>%v / %m ファイル</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>キャンセル</translation>
    </message>
    <message>
        <source>No slices</source>
        <translation>スライスなし</translation>
    </message>
    <message>
        <source>%1 × %2 × %3</source>
        <translation>%1 × %2 × %3</translation>
    </message>
    <message>
        <source>1 slice</source>
        <translation>1 スライス</translation>
    </message>
    <message>
        <source>%1 slices</source>
        <translation>%1 スライス</translation>
    </message>
    <message>
        <source>%1 · %2 × %3 · %4</source>
        <translation>%1 · %2 × %3 · %4</translation>
    </message>
    <message>
        <source>1 file skipped</source>
        <translation>1 ファイルを除外</translation>
    </message>
    <message>
        <source>%1 files skipped</source>
        <translation>%1 ファイルを除外</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>and %1 more</source>
        <translation>ほか %1 件</translation>
    </message>
    <message>
        <source>other size than the first</source>
        <translation>最初のファイルと大きさが違う</translation>
    </message>
    <message>
        <source>all values equal</source>
        <translation>すべての値が同じ</translation>
    </message>
    <message>
        <source>not a slice file we can read</source>
        <translation>読めるスライスファイルではない</translation>
    </message>
    <message>
        <source>unreadable</source>
        <translation>読み込めない</translation>
    </message>
    <message>
        <source>not found</source>
        <translation>見つからない</translation>
    </message>
    <message>
        <source>sequences nested too deeply</source>
        <translation>シーケンスの入れ子が深すぎる</translation>
    </message>
    <message>
        <source>more points than one file may hold</source>
        <translation>1 ファイルに持てる点の数を超える</translation>
    </message>
    <message>
        <source>values beyond the range of numbers</source>
        <translation>値が数の範囲を超える</translation>
    </message>
    <message>
        <source>pixel spacing out of range</source>
        <translation>ピクセル間隔が範囲外</translation>
    </message>
    <message>
        <source>another series than the set&apos;s</source>
        <translation>セットとは別のシリーズ</translation>
    </message>
    <message>
        <source>slices in another orientation than the set&apos;s</source>
        <translation>セットとは向きの違うスライス</translation>
    </message>
    <message>
        <source>same position as another slice</source>
        <translation>別のスライスと同じ位置</translation>
    </message>
    <message>
        <source>series split: kept %1 of %2 files, one series in one orientation</source>
        <translation>シリーズを分割: %2 ファイル中 %1 を使用 (1 シリーズ・1 方向)</translation>
    </message>
    <message>
        <source>list order: %1 of %2 files give no position</source>
        <translation>一覧の順: %2 ファイル中 %1 に位置がない</translation>
    </message>
    <message>
        <source>Open Folder…</source>
        <translation>フォルダを開く…</translation>
    </message>
    <message>
        <source>Loads every slice file of a folder; a folder with several DICOM series asks which</source>
        <translation>フォルダ内のすべてのスライスファイルを読み込みます。複数のDICOMシリーズがある場合は選択します</translation>
    </message>
    <message>
        <source>Open Folder</source>
        <translation>フォルダを開く</translation>
    </message>
    <message>
        <source>Open Address…</source>
        <translation>アドレスを開く…</translation>
    </message>
    <message>
        <source>Loads an OME-Zarr image from an http:// or https:// address</source>
        <translation>http:// または https:// のアドレスから OME-Zarr 画像を読み込みます</translation>
    </message>
    <message>
        <source>Open Address</source>
        <translation>アドレスを開く</translation>
    </message>
    <message>
        <source>Address of an OME-Zarr image (http:// or https://):</source>
        <translation>OME-Zarr 画像のアドレス(http:// または https://):</translation>
    </message>
    <message>
        <source>Choose a Series</source>
        <translation>シリーズの選択</translation>
    </message>
    <message>
        <source>%1 · %2</source>
        <translation>%1 · %2</translation>
    </message>
    <message>
        <source>(no description)</source>
        <translation>(説明なし)</translation>
    </message>
    <message>
        <source>Slice Files (%1)</source>
        <translation>スライスファイル (%1)</translation>
        <source>declares no voxels (a size of zero or less)</source>
        <translation>ボクセルがない(大きさが 0 以下)と宣言している</translation>
    </message>
    <message>
        <source>declares more voxels than a set may hold</source>
        <translation>セットが持てる数より多いボクセルを宣言している</translation>
    </message>
    <message>
        <source>its spacing is zero, below zero or not a number</source>
        <translation>間隔が 0、負、または数値ではない</translation>
    </message>
    <message>
        <source>its header cannot be read</source>
        <translation>ヘッダーを読み込めない</translation>
    </message>
    <message>
        <source>its data file is missing</source>
        <translation>データファイルがない</translation>
    </message>
    <message>
        <source>its data is shorter than the header declares, or damaged</source>
        <translation>データがヘッダーの宣言より短いか、壊れている</translation>
    </message>
    <message>
        <source>its data file lies outside the header&apos;s folder</source>
        <translation>データファイルがヘッダーのフォルダーの外にある</translation>
    </message>
    <message>
        <source>a data type we do not read (colour, vectors, complex or 64-bit integers)</source>
        <translation>読めないデータ型(カラー、ベクトル、複素数、64 ビット整数)</translation>
    </message>
    <message>
        <source>its Zarr metadata is not JSON or lacks a field it needs</source>
        <translation>Zarr のメタデータが JSON でないか、必要な項目がない</translation>
    </message>
    <message>
        <source>a Zarr data type we do not read (we read u1, i1, u2, i2, u4, i4, f4, f8)</source>
        <translation>読めない Zarr のデータ型(読めるのは u1, i1, u2, i2, u4, i4, f4, f8)</translation>
    </message>
    <message>
        <source>a Zarr compressor, filter or codec we do not read (we read blosc, zstd, zlib, gzip, crc32c, sharding)</source>
        <translation>読めない Zarr の圧縮方式、フィルターまたはコーデック(読めるのは blosc, zstd, zlib, gzip, crc32c, シャーディング)</translation>
    </message>
    <message>
        <source>its Zarr array is in Fortran order (we read C order only)</source>
        <translation>Zarr 配列が Fortran 順(読めるのは C 順のみ)</translation>
    </message>
    <message>
        <source>its Zarr chunks are empty or larger than 2^31 voxels</source>
        <translation>Zarr のチャンクが空か、2^31 ボクセルより大きい</translation>
    </message>
    <message>
        <source>its resolution levels do not halve, or differ in type or axes</source>
        <translation>解像度レベルが半分ずつになっていないか、型や軸が異なる</translation>
    </message>
    <message>
        <source>its axes are not z, y, x (after time or channels)</source>
        <translation>軸が(時間やチャンネルの後の)z, y, x でない</translation>
    </message>
    <message>
        <source>a chunk of it is damaged or decompresses to the wrong size</source>
        <translation>チャンクが壊れているか、展開すると大きさが違う</translation>
    </message>
    <message>
        <source>a Zarr version we do not read (we read versions 2 and 3)</source>
        <translation>読めない Zarr のバージョン(読めるのはバージョン 2 と 3)</translation>
    </message>
    <message>
        <source>no Zarr image or array there (no .zattrs, .zarray or zarr.json)</source>
        <translation>Zarr の画像も配列もない(.zattrs、.zarray、zarr.json のいずれもない)</translation>
    </message>
    <message>
        <source>its Zarr shards do not divide into its inner chunks, or hold too many</source>
        <translation>Zarr のシャードが内側のチャンクで割り切れないか、チャンクが多すぎる</translation>
    </message>
    <message>
        <source>its server cannot be reached (no such host, or the connection was refused)</source>
        <translation>サーバーに接続できない(ホストがないか、接続を拒否された)</translation>
    </message>
    <message>
        <source>its server did not answer in time</source>
        <translation>サーバーが時間内に応答しなかった</translation>
    </message>
    <message>
        <source>its server kept failing (a server error or a cut connection, after retries)</source>
        <translation>サーバーが失敗を続けた(再試行後もサーバーエラーまたは接続の切断)</translation>
    </message>
    <message>
        <source>its server refused the request (an HTTP client error other than 404)</source>
        <translation>サーバーが要求を拒否した(404 以外の HTTP クライアントエラー)</translation>
    </message>
    <message>
        <source>its server sent more than a Zarr file of that kind may hold</source>
        <translation>サーバーがその種類の Zarr ファイルにあり得る大きさを超えて送ってきた</translation>
    </message>
    <message>
        <source>its server redirected to another site or too many times</source>
        <translation>サーバーが別のサイトへ、または回数が多すぎるリダイレクトをした</translation>
    </message>
    <message>
        <source>its secure connection failed (certificate or TLS error)</source>
        <translation>安全な接続に失敗した(証明書または TLS のエラー)</translation>
    </message>
    <message>
        <source>its download was stopped</source>
        <translation>ダウンロードが中止された</translation>
    </message>
    <message>
        <source>its size does not match its raw description</source>
        <translation>ファイルの大きさが raw の記述と合わない</translation>
    </message>
    <message>
        <source>a raw file without a description (use Import Raw)</source>
        <translation>記述のない raw ファイル(「raw 読み込み」を使う)</translation>
    </message>
    <message>
        <source>its axes point in other directions than another set&apos;s</source>
        <translation>軸の向きがほかのセットと違う</translation>
    </message>
    <message>
        <source>Import Raw…</source>
        <translation>raw 読み込み…</translation>
    </message>
    <message>
        <source>Loads a raw file of samples whose size, type and byte order you give</source>
        <translation>大きさ・型・バイト順を指定して raw ファイルを読み込みます</translation>
    </message>
    <message>
        <source>%1³</source>
        <translation>%1³</translation>
    </message>
    <message>
        <source> · %1 · level %2 of %3</source>
        <translation> · %1 · 解像度レベル %2 / %3</translation>
    </message>
    <message>
        <source> · %1 of %2 in memory</source>
        <translation> · メモリ上 %1 / %2</translation>
    </message>
    <message>
        <source> · 4-D: first of %1 volumes</source>
        <translation> · 4 次元: %1 ボリュームの最初</translation>
    </message>
    <message>
        <source>Volumes (*.nii *.nii.gz *.nrrd *.nhdr *.mha *.mhd)</source>
        <translation>ボリューム (*.nii *.nii.gz *.nrrd *.nhdr *.mha *.mhd)</translation>
    </message>
</context>
<context>
    <name>RawImportDialog</name>
    <message>
        <source>Import Raw</source>
        <translation>raw 読み込み</translation>
    </message>
    <message>
        <source>Choose…</source>
        <translation>選択…</translation>
    </message>
    <message>
        <source>File</source>
        <translation>ファイル</translation>
    </message>
    <message>
        <source>Width</source>
        <translation>幅</translation>
    </message>
    <message>
        <source>Height</source>
        <translation>高さ</translation>
    </message>
    <message>
        <source>Slices</source>
        <translation>スライス数</translation>
    </message>
    <message>
        <source>Data type</source>
        <translation>データ型</translation>
    </message>
    <message>
        <source>Little endian (least significant byte first)</source>
        <translation>リトルエンディアン(下位バイトが先)</translation>
    </message>
    <message>
        <source>Big endian (most significant byte first)</source>
        <translation>ビッグエンディアン(上位バイトが先)</translation>
    </message>
    <message>
        <source>Byte order</source>
        <translation>バイト順</translation>
    </message>
    <message>
        <source>Header bytes to skip</source>
        <translation>読み飛ばすヘッダーのバイト数</translation>
    </message>
    <message>
        <source>Spacing</source>
        <translation>間隔</translation>
    </message>
    <message>
        <source>Import</source>
        <translation>読み込み</translation>
    </message>
    <message>
        <source>Width, height and slices are whole numbers from 1, the header bytes from 0, and the spacing positive numbers.</source>
        <translation>幅・高さ・スライス数は 1 以上、ヘッダーのバイト数は 0 以上の整数、間隔は正の数です。</translation>
    </message>
    <message>
        <source>%1 × %2 × %3 samples of %4 bytes after %5 header bytes: %6 bytes.</source>
        <translation>%5 バイトのヘッダーの後に %4 バイトのサンプルが %1 × %2 × %3 個: %6 バイト。</translation>
    </message>
    <message>
        <source>Choose the file.</source>
        <translation>ファイルを選んでください。</translation>
    </message>
    <message>
        <source>The file has %1 bytes: they match.</source>
        <translation>ファイルは %1 バイト: 一致しています。</translation>
    </message>
    <message>
        <source>The file has %1 bytes: they do not match.</source>
        <translation>ファイルは %1 バイト: 一致しません。</translation>
    </message>
    <message>
        <source>Choose a Raw File</source>
        <translation>raw ファイルの選択</translation>
        <source>White to colour</source>
        <translation>白から色へ</translation>
    </message>
    <message>
        <source>Grey</source>
        <translation>グレー</translation>
    </message>
    <message>
        <source>Inverted grey</source>
        <translation>反転グレー</translation>
    </message>
    <message>
        <source>Hot</source>
        <translation>ホット</translation>
    </message>
    <message>
        <source>Viridis</source>
        <translation>Viridis</translation>
    </message>
    <message>
        <source>Magma</source>
        <translation>Magma</translation>
    </message>
    <message>
        <source>Inferno</source>
        <translation>Inferno</translation>
    </message>
    <message>
        <source>Cividis</source>
        <translation>Cividis</translation>
    </message>
    <message>
        <source>Colours</source>
        <translation>配色</translation>
    </message>
    <message>
        <source>How the window's strengths become colours: the ramp from white to the volume colour, or a fixed colour map</source>
        <translation>表示範囲の強さを色にする方法: 白から体積色への階調、または固定のカラーマップ</translation>
    </message>
    <message>
        <source>γ</source>
        <translation>γ</translation>
    </message>
    <message>
        <source>Gamma of the colours, %1 to %2: below 1 brightens weak values, above 1 darkens them</source>
        <translation>色のガンマ (%1 から %2): 1 より小さいと弱い値が明るく、大きいと暗くなります</translation>
    </message>
    <message>
        <source>Brain</source>
        <translation>脳</translation>
    </message>
    <message>
        <source>Soft tissue</source>
        <translation>軟部組織</translation>
    </message>
    <message>
        <source>Bone</source>
        <translation>骨</translation>
    </message>
    <message>
        <source>Lung</source>
        <translation>肺</translation>
    </message>
    <message>
        <source>Top</source>
        <translation>上端</translation>
    </message>
    <message>
        <source>Vanish</source>
        <translation>消す</translation>
    </message>
    <message>
        <source>Saturate</source>
        <translation>飽和</translation>
    </message>
    <message>
        <source>Values at or above the top of the window: not drawn (Vanish), or drawn in the top colour (Saturate)</source>
        <translation>表示範囲の上端以上の値: 描かない (消す) か、上端の色で描く (飽和)</translation>
    </message>
    <message>
        <source>Window…</source>
        <translation>表示範囲…</translation>
    </message>
    <message>
        <source>%1 (%2 to %3 HU)</source>
        <translation>%1 (%2 から %3 HU)</translation>
    </message>
    <message>
        <source>Sets the window to a usual one for CT sets in Hounsfield units</source>
        <translation>ハウンスフィールド単位の CT に通常使う表示範囲にします</translation>
    </message>
    <message>
        <source>Auto</source>
        <translation>自動</translation>
    </message>
    <message>
        <source>Sets the window from 0.5 % to 99.5 % of the set's values</source>
        <translation>表示範囲をセットの値の 0.5 % から 99.5 % にします</translation>
    </message>
    <message>
        <source>Histogram…</source>
        <translation>ヒストグラム…</translation>
    </message>
    <message>
        <source>Shows the set's histogram larger, with an axis in the set's units</source>
        <translation>セットのヒストグラムを大きく、セットの単位の軸付きで表示します</translation>
    </message>
    <message>
        <source>Histogram</source>
        <translation>ヒストグラム</translation>
    </message>
    <message>
        <source>Maximum</source>
        <translation>最大値</translation>
    </message>
    <message>
        <source>Minimum</source>
        <translation>最小値</translation>
    </message>
    <message>
        <source>Mean</source>
        <translation>平均</translation>
    </message>
    <message>
        <source>Composite</source>
        <translation>合成</translation>
    </message>
    <message>
        <source>What each ray shows: the largest value in the window, the smallest or the mean value of its samples, or its samples blended front to back (shape the opacity on the larger histogram)</source>
        <translation>各光線が示すもの: 表示範囲内の最大値、サンプルの最小値か平均値、または手前から奥へ重ねたサンプル (不透明度は大きなヒストグラムで形づくります)</translation>
    </message>
    <message>
        <source>Nearest</source>
        <translation>最近傍</translation>
    </message>
    <message>
        <source>Linear</source>
        <translation>線形</translation>
    </message>
    <message>
        <source>How a sample between voxels takes its value: from the voxel it falls in, or trilinear between the voxels around it</source>
        <translation>ボクセルの間のサンプルの値の取り方: そのボクセルの値、または周りのボクセルからの三線形補間</translation>
    </message>
    <message>
        <source>The slice the cut plane crosses at the middle of the set, and the plane's distance from the middle</source>
        <translation>断面が立体の中央で横切るスライスと、中央からの断面の距離</translation>
    </message>
    <message>
        <source>slice %1 · %2</source>
        <translation>スライス %1 · %2</translation>
    </message>
    <message>
        <source>slice %1 · %2 %3</source>
        <translation>スライス %1 · %2 %3</translation>
    </message>
</context>
<context>
    <name>Session</name>
    <message>
        <source>%1: not a file of the set</source>
        <translation>%1: このセットのファイルではありません</translation>
    </message>
    <message>
        <source>%1: not a raw description</source>
        <translation>%1: raw の記述ではありません</translation>
    </message>
    <message>
        <source>%1: unknown key</source>
        <translation>%1: 不明なキーです</translation>
    </message>
    <message>
        <source>%1: missing</source>
        <translation>%1: ありません</translation>
    </message>
    <message>
        <source>%1: not an object</source>
        <translation>%1: オブジェクトではありません</translation>
    </message>
    <message>
        <source>%1: not true or false</source>
        <translation>%1: true でも false でもありません</translation>
    </message>
    <message>
        <source>%1: not a finite number</source>
        <translation>%1: 有限の数ではありません</translation>
    </message>
    <message>
        <source>%1: out of range</source>
        <translation>%1: 範囲外です</translation>
    </message>
    <message>
        <source>%1: not a list of the right length</source>
        <translation>%1: 正しい長さのリストではありません</translation>
    </message>
    <message>
        <source>%1: not a colour of the form #rrggbb</source>
        <translation>%1: #rrggbb 形式の色ではありません</translation>
    </message>
    <message>
        <source>%1: not "slices" or "voxels"</source>
        <translation>%1: "slices" でも "voxels" でもありません</translation>
    </message>
    <message>
        <source>%1: not a list</source>
        <translation>%1: リストではありません</translation>
    </message>
    <message>
        <source>%1: not a list of file names</source>
        <translation>%1: ファイル名のリストではありません</translation>
    </message>
    <message>
        <source>not a session file: %1</source>
        <translation>セッションファイルではありません: %1</translation>
    </message>
    <message>
        <source>not a session file</source>
        <translation>セッションファイルではありません</translation>
    </message>
    <message>
        <source>version: out of range</source>
        <translation>version: 範囲外です</translation>
    </message>
    <message>
        <source>the session was written by a newer version of the program (format %1); this one reads format %2</source>
        <translation>このセッションは新しい版のプログラムで書かれています (形式 %1)。この版が読めるのは形式 %2 です</translation>
    </message>
    <message>
        <source>the file does not exist</source>
        <translation>ファイルがありません</translation>
    </message>
    <message>
        <source>not a regular file</source>
        <translation>通常のファイルではありません</translation>
    </message>
    <message>
        <source>the file is too large for a session</source>
        <translation>セッションとしては大きすぎるファイルです</translation>
    </message>
    <message>
        <source>%1: not of unit length</source>
        <translation>%1: 長さが 1 ではありません</translation>
    </message>
    <message>
        <source>%1: not at right angles to %2</source>
        <translation>%1: %2 と直交していません</translation>
    </message>
    <message>
        <source>%1: (0, 0, 0) while the cross-section is shown</source>
        <translation>%1: 断面を表示しているのに (0, 0, 0) です</translation>
    </message>
    <message>
        <source>%1: a file name holds a NUL character</source>
        <translation>%1: NUL 文字を含むファイル名があります</translation>
    </message>
    <message>
        <source>the file name holds a NUL character</source>
        <translation>ファイル名に NUL 文字が含まれています</translation>
    </message>
</context>
<context>
    <name>SliceViewWidget</name>
    <message>
        <source>Outside the set · %1 = %2</source>
        <translation>セットの外 · %1 = %2</translation>
    </message>
    <message>
        <source>Slice %1 of %2 · %3 = %4</source>
        <translation>スライス %1 / %2 · %3 = %4</translation>
    </message>
</context>
<context>
    <name>MeasurePanel</name>
    <message>
        <source>Crosshair</source>
        <translation>十字線</translation>
    </message>
    <message>
        <source>Ruler</source>
        <translation>定規</translation>
    </message>
    <message>
        <source>Profile</source>
        <translation>プロファイル</translation>
    </message>
    <message>
        <source>Rectangle</source>
        <translation>矩形</translation>
    </message>
    <message>
        <source>Ellipse</source>
        <translation>楕円</translation>
    </message>
    <message>
        <source>What a left drag in a slice view does</source>
        <translation>断面表示での左ドラッグの動作</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>名前</translation>
    </message>
    <message>
        <source>Kind</source>
        <translation>種類</translation>
    </message>
    <message>
        <source>Figures</source>
        <translation>計測値</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>削除</translation>
    </message>
    <message>
        <source>Export CSV…</source>
        <translation>CSV書き出し…</translation>
    </message>
    <message>
        <source>Measure</source>
        <translation>計測</translation>
    </message>
    <message>
        <source>length %1</source>
        <translation>長さ %1</translation>
    </message>
    <message>
        <source>set %1: %2 voxels, area %3, mean %4 ± %5, min %6, max %7</source>
        <translation>セット %1: %2 ボクセル, 面積 %3, 平均 %4 ± %5, 最小 %6, 最大 %7</translation>
        <source>%1: not a colour map</source>
        <translation>%1: カラーマップではありません</translation>
    </message>
    <message>
        <source>%1: not &quot;vanish&quot; or &quot;saturate&quot;</source>
        <translation>%1: &quot;vanish&quot; でも &quot;saturate&quot; でもありません</translation>
    </message>
    <message>
        <source>%1: not a projection</source>
        <translation>%1: 投影法ではありません</translation>
    </message>
    <message>
        <source>%1: not &quot;nearest&quot; or &quot;linear&quot;</source>
        <translation>%1: &quot;nearest&quot; でも &quot;linear&quot; でもありません</translation>
    </message>
</context>
<context>
    <name>HistogramView</name>
    <message>
        <source>Histogram of the set's values in its units; drag a red line to move a window end, and under Composite a blue point to shape the opacity</source>
        <translation>セットの値のヒストグラム (セットの単位); 赤い線をドラッグすると表示範囲の端が動き、合成では青い点で不透明度を形づくります</translation>
    </message>
</context>
</TS>
