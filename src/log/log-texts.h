#pragma once
/* Every fixed text the plug-in logs, and the adb client's error texts, each
 * defined once. The plug-in, its tests, the headless host, the benchmarks and
 * the Windows harness all use these names; tests/real-obs reads them through
 * a Python module generated from this file.
 *
 * Plain string literals, so that they join the prefix at compile time and the
 * compiler checks the fields of a log call against them. No includes: the
 * mingw-built harness and tests use this header without libobs.
 *
 * Each #define holds one literal (a long one continues on the next line):
 * cmake/log-texts-py.cmake reads them into a Python module.
 *
 * A line in the log is LOGTEXT_PREFIX followed by one of the texts below,
 * fields filled in; ostrelin_log() in ostrelin-log.h adds the prefix. */

#define LOGTEXT_PREFIX "[ostrelin] " /* starts every line the plug-in logs */

/* Module load */
#define LOGTEXT_NET_INIT_FAILED "網路子系統初始化失敗" /* the socket library did not start */
#define LOGTEXT_PLUGIN_LOADED "plugin 載入完成"        /* the plug-in is loaded */

/* Interface language */
#define LOGTEXT_LANGUAGE "介面語言：%s" /* interface language: code */
#define LOGTEXT_LANGUAGE_UNKNOWN \
	"設定檔裡的語言 \"%s\" 不認得，改用 OBS 的語言" /* the stored language is unknown, OBS's is used */
#define LOGTEXT_LOCALE_FILE_MISSING "找不到語言檔 %s，改用 OBS 的語言" /* no text file for the language */
#define LOGTEXT_LOCALE_FILE_UNREADABLE "語言檔 %s 讀不起來"            /* the text file cannot be loaded */
#define LOGTEXT_LANGUAGE_NOT_SAVED "語言選擇存不進 %s"                 /* the language choice cannot be stored */

/* Source settings */
#define LOGTEXT_PORT_OUT_OF_RANGE "連接埠 %lld 不在 1–65535 之間，不連線" /* port outside 1-65535, no connection */

/* Connection */
#define LOGTEXT_FORWARD_FAILED "建立 adb forward 失敗：%s"                          /* adb forward failed: reason */
#define LOGTEXT_UNKNOWN_REASON "未知原因"                                           /* the reason when adb gave none */
#define LOGTEXT_UNREACHABLE "連不上 %s:%d，手機端 app 開了嗎？（每 30 秒回報一次）" /* cannot connect, app running? */
#define LOGTEXT_NOT_OSTRELIN "對面回的不是 Ostrelin 串流"                /* the peer is not an Ostrelin stream */
#define LOGTEXT_VERSION_MISMATCH "協定版本不合：手機端 %d，plugin 端 %d" /* protocol version: phone, plug-in */
#define LOGTEXT_UNSUPPORTED_CODEC "不支援的編碼 %d"                      /* unsupported codec number */
#define LOGTEXT_APP_NOT_LISTENING \
	"USB 連線被手機關閉：手機端 app 沒開，或沒有在連接埠 %d 等待連線（每 30 秒回報一次）" /* adb took it, the phone closed it: app not listening */
#define LOGTEXT_STREAM_CONNECTED "串流已連上 %ux%u @ %u fps" /* connected: width, height, fps */
#define LOGTEXT_DISCONNECTED \
	"連線中斷，%d ms 後重試（已解 %llu 張）" /* connection lost, retry in ms (pictures decoded) */

/* Receiving */
#define LOGTEXT_CAMERA_CAPS \
	"相機能力：變焦 %.1f–%.1f×，曝光 %d–%d 級，手電筒 %s，AE 鎖 %s，白平衡 %d 種" /* camera capabilities */
#define LOGTEXT_CAPS_YES "有"                                                         /* capability present */
#define LOGTEXT_CAPS_NO "無"                                                          /* capability absent */
#define LOGTEXT_AUDIO_RATE_REFUSED \
	"音訊設定的取樣率 %u Hz 不是 AAC 的取樣率，不解碼音訊"     /* sample rate is no AAC rate, audio not decoded */
#define LOGTEXT_PACKET_TOO_LARGE "封包大小不合理 (%llu)，中斷連線" /* packet length too large, disconnecting */
#define LOGTEXT_CLOCK_REANCHOR "時鐘基準改變，重新錨定（差 %.0f ms）" /* the phone's clock jumped, re-anchored */
#define LOGTEXT_AUDIO_ALLOWANCE \
	"網路延遲緩衝：音訊延後 %.0f ms（太晚丟掉 %llu 個封包）" /* audio held back for late packets: ms (blocks dropped) */
#define LOGTEXT_SMOOTH_DELAY \
	"平滑同步：畫面與音訊延後 %.0f ms（太晚丟掉 %llu 個音訊封包）" /* smooth and in sync: delay ms (audio blocks dropped) */
#define LOGTEXT_SMOOTH_OBS_LATE \
	"平滑同步：OBS 的畫面更新來遲，畫面晚了 %.0f ms，延遲加大到 %.0f ms" /* smooth and in sync: OBS's ticks late, a picture late by ms, delay raised to ms */
#define LOGTEXT_SMOOTH_ON "平滑同步：開啟，畫面依時間逐張顯示，與音訊同步" /* smooth and in sync switched on */
#define LOGTEXT_SMOOTH_OFF "平滑同步：關閉，畫面解碼後立即顯示"            /* smooth and in sync switched off */
#define LOGTEXT_STATS \
	"%.1f fps, %.1f Mbps, 解碼 %.2f ms (最慢 %.2f), 累計 %llu 張" /* statistics: fps, rate, decode time, pictures */
#define LOGTEXT_STATS_AUDIO "  音訊 %llu 個封包，時鐘位移 %.1f ms"    /* statistics: audio packets, clock offset */
#define LOGTEXT_STATS_LATENCY \
	"  送出→交給OBS: 平均 %.2f ms, 最慢 %.2f ms (%llu 張)" /* statistics: send-to-OBS latency avg, max, count */

/* Video decoder */
#define LOGTEXT_NO_H264_DECODER "找不到 H.264 解碼器"             /* libavcodec has no H.264 decoder */
#define LOGTEXT_NO_HEVC_DECODER "找不到 H.265 解碼器"             /* libavcodec has no HEVC decoder */
#define LOGTEXT_DECODER_OPEN_FAILED "開啟解碼器失敗"              /* the video decoder did not open */
#define LOGTEXT_DECODER_READY "解碼器就緒 (%s, slice threads=%d)" /* video decoder ready: name, threads */
#define LOGTEXT_PIXEL_FORMAT_UNSUPPORTED "不支援的像素格式 %d"    /* unsupported pixel format number */

/* Audio decoder */
#define LOGTEXT_NO_AAC_DECODER "找不到 AAC 解碼器"                         /* libavcodec has no AAC decoder */
#define LOGTEXT_AAC_OPEN_FAILED "開啟 AAC 解碼器失敗"                      /* the AAC decoder did not open */
#define LOGTEXT_AUDIO_DECODER_READY "音訊解碼器就緒 (AAC, %u Hz, %u 聲道)" /* audio decoder ready: rate, channels */
#define LOGTEXT_AUDIO_FORMAT_UNSUPPORTED "音訊格式不是 planar float (%d)，暫不支援" /* samples not planar float */

/* The adb client's error texts (adb_last_error), logged within LOGTEXT_FORWARD_FAILED */
#define LOGTEXT_ADB_SOCKET_FAILED "建立 socket 失敗 (%d)" /* no socket: error code */
#define LOGTEXT_ADB_UNREACHABLE \
	"連不到 adb server (127.0.0.1:%d)。請確認 adb 有在跑，或先執行一次 adb devices" /* no adb server on the port */
#define LOGTEXT_ADB_FAILED "adb 回報失敗"          /* the server answered FAIL without a reason */
#define LOGTEXT_ADB_REASON "adb: %s"               /* the server answered FAIL with this reason */
#define LOGTEXT_ADB_NO_REPLY "adb server 沒有回應" /* no status from the server */
#define LOGTEXT_ADB_BAD_REPLY "adb 回應無法辨識"   /* a status that is neither OKAY nor FAIL */
#define LOGTEXT_ADB_LIST_FAILED "讀取裝置清單失敗" /* the device list did not arrive */
