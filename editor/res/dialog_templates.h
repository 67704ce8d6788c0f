// The dialog templates of the tab menu (312), the three control pages (313 to 315) and the
// new terrain dialog (311): every control with its id, class, text, rectangle in dialog
// units and Win32 style bits. DialogTemplate.h turns a template into Qt widgets.
//
// Sizes are the original layout's except where its font was narrower than the Korean face
// used here: the "Width", "Depth" and "CellSpacing" labels and the light page's value boxes
// (which show up to "-50000" and "100000") are a few units wider, so nothing is cut off.
// The map page's "지형 조정" group holds the sculpting modes beyond the first three and the
// brush shape, so everything below it sits 28 units lower; the texture page ends with the
// auto painting group.
#pragma once

#include "dialog_ids.h"

#include <cstdint>
#include <span>

namespace res {

// Win32 style bits, with their Windows values, as far as these templates use them.
constexpr uint32_t WS_CHILD = 0x40000000;
constexpr uint32_t WS_VISIBLE = 0x10000000;
constexpr uint32_t WS_DISABLED = 0x08000000;
constexpr uint32_t WS_CAPTION = 0x00C00000;
constexpr uint32_t WS_BORDER = 0x00800000;
constexpr uint32_t WS_SYSMENU = 0x00080000;
constexpr uint32_t WS_GROUP = 0x00020000;
constexpr uint32_t WS_TABSTOP = 0x00010000;
constexpr uint32_t DS_MODALFRAME = 0x0080;
constexpr uint32_t DS_SETFONT = 0x0040;
constexpr uint32_t BS_DEFPUSHBUTTON = 0x0001;
constexpr uint32_t BS_GROUPBOX = 0x0007;
constexpr uint32_t BS_AUTORADIOBUTTON = 0x0009;
constexpr uint32_t ES_AUTOHSCROLL = 0x0080;
constexpr uint32_t SS_LEFT = 0x0000;
constexpr uint32_t TBS_BOTH = 0x0008;
constexpr uint32_t TBS_NOTICKS = 0x0010;
constexpr uint32_t LVS_LIST = 0x0003;
constexpr uint32_t LVS_ALIGNLEFT = 0x0800;

enum class ControlClass { Button, Edit, Static, Trackbar, ListView, Tab };

struct ControlTemplate {
    int id;
    ControlClass cls;
    const char* text; // UTF-8
    int x, y, cx, cy; // dialog units
    uint32_t style;
};

struct DialogTemplate {
    int id;
    const char* title; // UTF-8; empty for child forms
    int cx, cy;        // dialog units
    const char* font;
    int pointSize;
    uint32_t style;
    std::span<const ControlTemplate> controls;
};

namespace detail {

using C = ControlClass;
constexpr uint32_t kPush = WS_TABSTOP;
constexpr uint32_t kDefPush = BS_DEFPUSHBUTTON | WS_TABSTOP;
constexpr uint32_t kGroupBox = BS_GROUPBOX;
constexpr uint32_t kFirstRadio = BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP;
constexpr uint32_t kRadio = BS_AUTORADIOBUTTON;
constexpr uint32_t kText = SS_LEFT;
constexpr uint32_t kEdit = ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;
constexpr uint32_t kValueEdit = ES_AUTOHSCROLL | WS_BORDER | WS_DISABLED;
constexpr uint32_t kTrackbar = TBS_BOTH | TBS_NOTICKS | WS_TABSTOP;
constexpr uint32_t kListView = LVS_LIST | LVS_ALIGNLEFT | WS_BORDER | WS_TABSTOP;
constexpr uint32_t kChildForm = WS_CHILD | DS_SETFONT;
constexpr uint32_t kModal = DS_MODALFRAME | WS_CAPTION | WS_SYSMENU | DS_SETFONT;

inline constexpr ControlTemplate kNewTerrain[] = {
    {IDOK, C::Button, "확인", 35, 64, 50, 14, kDefPush},
    {IDCANCEL, C::Button, "취소", 86, 64, 50, 14, kPush},
    {IDC_NEW_WIDTH, C::Edit, "", 43, 7, 40, 14, kEdit},
    {IDC_NEW_DEPTH, C::Edit, "", 43, 24, 40, 14, kEdit},
    {IDC_NEW_SPACING, C::Edit, "", 43, 43, 40, 14, kEdit},
    {IDC_STATIC, C::Static,
     "33x33 , 65x65 ,\n129x129 , 257x257\n단위만 쿼드트리 컬링이 가능합니다.", 93, 16, 70, 39,
     kText},
    {IDC_STATIC, C::Static, "Width", 18, 9, 24, 8, kText},
    {IDC_STATIC, C::Static, "Depth", 17, 27, 25, 8, kText},
    {IDC_STATIC, C::Static, "CellSpacing", 4, 44, 38, 8, kText},
};

inline constexpr ControlTemplate kTabMenu[] = {
    {IDC_TAB, C::Tab, "", 0, 0, 198, 12, WS_TABSTOP},
};

inline constexpr ControlTemplate kMapControl[] = {
    {IDC_MAP_ADJUST_GROUP, C::Button, "지형 조정", 5, 5, 180, 58, kGroupBox},
    {IDC_MAP_FLAT, C::Button, "평지", 40, 16, 30, 10, kFirstRadio},
    {IDC_MAP_RAISE, C::Button, "올림", 83, 16, 30, 10, kRadio},
    {IDC_MAP_LOWER, C::Button, "내림", 126, 16, 30, 10, kRadio},
    {IDC_MAP_SMOOTH, C::Button, "다듬기", 40, 29, 38, 10, kRadio},
    {IDC_MAP_NOISE, C::Button, "노이즈", 83, 29, 38, 10, kRadio},
    {IDC_MAP_SET_HEIGHT, C::Button, "높이 맞추기", 126, 29, 52, 10, kRadio},
    {IDC_MAP_SHAPE_LABEL, C::Static, "모양", 12, 46, 24, 8, kText},
    {IDC_MAP_SQUARE, C::Button, "사각형", 40, 45, 38, 10, kFirstRadio},
    {IDC_MAP_ROUND, C::Button, "원형", 83, 45, 35, 10, kRadio},
    {IDC_MAP_BRUSH_GROUP, C::Button, "조절 정보", 5, 65, 180, 105, kGroupBox | WS_GROUP},
    {IDC_MAP_BIG_LABEL, C::Static, "큰 원", 10, 77, 40, 8, kText},
    {IDC_MAP_BIG_SLIDER, C::Trackbar, "", 7, 88, 135, 15, kTrackbar},
    {IDC_MAP_BIG_EDIT, C::Edit, "", 151, 89, 24, 12, kEdit},
    {IDC_MAP_SMALL_LABEL, C::Static, "작은 원", 9, 106, 40, 8, kText},
    {IDC_MAP_SMALL_SLIDER, C::Trackbar, "", 7, 117, 135, 15, kTrackbar},
    {IDC_MAP_SMALL_EDIT, C::Edit, "", 151, 118, 24, 12, kEdit},
    {IDC_MAP_STRENGTH_LABEL, C::Static, "강도", 9, 136, 40, 8, kText},
    {IDC_MAP_STRENGTH_SLIDER, C::Trackbar, "", 6, 147, 135, 15, kTrackbar},
    {IDC_MAP_STRENGTH_EDIT, C::Edit, "", 150, 148, 24, 12, kEdit},
    {IDC_MAP_LOD_GROUP, C::Button, "LOD Level", 5, 173, 180, 36, kGroupBox},
    {IDC_MAP_LOD_SLIDER, C::Trackbar, "", 6, 186, 135, 15, kTrackbar},
    {IDC_MAP_LOD_EDIT, C::Edit, "", 150, 187, 24, 12, kEdit},
    {IDC_MAP_FILL_GROUP, C::Button, "FILL Mode", 5, 216, 180, 29, kGroupBox},
    {IDC_MAP_SOLID, C::Button, "SOLID", 40, 227, 35, 10, kFirstRadio},
    {IDC_MAP_WIRE, C::Button, "WIRE", 83, 227, 33, 10, kRadio},
    {IDC_MAP_POINT, C::Button, "POINT", 126, 227, 37, 10, kRadio},
    {IDC_STATIC, C::Button, "지형 정보", 5, 252, 180, 65, kGroupBox | WS_GROUP},
    {IDC_MAP_WIDTH_LABEL, C::Static, "가로", 37, 264, 20, 8, kText},
    {IDC_MAP_DEPTH_LABEL, C::Static, "세로", 85, 265, 20, 8, kText},
    {IDC_MAP_SPACING_LABEL, C::Static, "간격", 131, 265, 20, 8, kText},
    {IDC_MAP_WIDTH, C::Edit, "", 28, 277, 40, 14, kEdit},
    {IDC_MAP_DEPTH, C::Edit, "", 73, 277, 40, 14, kEdit},
    {IDC_MAP_SPACING, C::Edit, "", 118, 277, 40, 14, kEdit},
    {IDC_MAP_NEW_TERRAIN, C::Button, "지형 새로 만들기", 29, 293, 60, 14, kPush},
    {IDC_MAP_RESET_CAMERA, C::Button, "카메라 초기화", 96, 293, 60, 14, kPush},
};

inline constexpr ControlTemplate kTextureControl[] = {
    {IDC_TEX_BASE_GROUP, C::Button, "지형 텍스쳐", 5, 5, 180, 102, kGroupBox},
    {IDC_TEX_BASE_LIST, C::ListView, "", 12, 16, 114, 54, kListView},
    {IDC_TEX_INDEX_LABEL, C::Static, "Select Index", 135, 16, 45, 8, kText},
    {IDC_TEX_INDEX, C::Edit, "", 136, 25, 38, 14, kValueEdit},
    {IDC_TEX_ADD, C::Button, "추가", 134, 40, 42, 14, kPush},
    {IDC_TEX_DELETE, C::Button, "삭제", 134, 56, 42, 14, kPush},
    {IDC_TEX_BASE_SCALE_LABEL, C::Static, "맵핑 스케일", 12, 77, 50, 8, kText},
    {IDC_TEX_BASE_SCALE, C::Trackbar, "", 9, 85, 135, 15, kTrackbar},
    {IDC_TEX_BASE_SCALE_EDIT, C::Edit, "", 150, 85, 23, 14, kValueEdit},
    {IDC_TEX_SPLAT_GROUP, C::Button, "스플랫팅 텍스쳐", 5, 115, 180, 207, kGroupBox},
    {IDC_TEX_CANDIDATES_LABEL, C::Static, "텍스쳐 목록", 17, 126, 50, 8, kText},
    {IDC_TEX_CANDIDATES, C::ListView, "", 12, 135, 65, 56, kListView},
    {IDC_TEX_REGISTER, C::Button, "등록", 85, 141, 20, 15, kPush},
    {IDC_TEX_UNREGISTER, C::Button, "제거", 85, 172, 20, 15, kPush},
    {IDC_TEX_LAYERS_LABEL, C::Static, "선택된 텍스쳐", 114, 126, 60, 8, kText},
    {IDC_TEX_LAYERS, C::ListView, "", 113, 135, 65, 56, kListView},
    {IDC_TEX_UP, C::Button, "↑", 129, 192, 17, 14, kPush},
    {IDC_TEX_DOWN, C::Button, "↓", 148, 192, 17, 14, kPush},
    {IDC_TEX_LAYER_SCALE_LABEL, C::Static, "맵핑 스케일", 14, 209, 50, 8, kText},
    {IDC_TEX_LAYER_SCALE, C::Trackbar, "", 11, 217, 135, 15, kTrackbar},
    {IDC_TEX_LAYER_SCALE_EDIT, C::Edit, "", 150, 217, 23, 14, kValueEdit},
    {IDC_STATIC, C::Button, "스플랫팅 텍스쳐 컨트롤", 10, 235, 170, 81, kGroupBox},
    {IDC_TEX_SMOOTH_LABEL, C::Static, "스플랫팅 스무스", 14, 248, 70, 8, kText},
    {IDC_TEX_SMOOTH, C::Trackbar, "", 11, 256, 135, 15, kTrackbar},
    {IDC_TEX_SMOOTH_EDIT, C::Edit, "", 150, 256, 23, 14, kValueEdit},
    {IDC_TEX_STRENGTH_LABEL, C::Static, "스플랫팅 강도", 14, 269, 60, 8, kText},
    {IDC_TEX_STRENGTH, C::Trackbar, "", 11, 280, 135, 15, kTrackbar},
    {IDC_TEX_STRENGTH_EDIT, C::Edit, "", 150, 280, 23, 14, kValueEdit},
    {IDC_TEX_DRAW, C::Button, "그리기", 53, 299, 37, 10, kFirstRadio},
    {IDC_TEX_ERASE, C::Button, "지우기", 107, 299, 37, 10, kRadio},
    {IDC_TEX_AUTO_GROUP, C::Button, "자동 칠하기", 5, 326, 180, 72, kGroupBox | WS_GROUP},
    {IDC_TEX_AUTO_MIN_LABEL, C::Static, "최소", 50, 337, 28, 8, kText},
    {IDC_TEX_AUTO_MAX_LABEL, C::Static, "최대", 88, 337, 28, 8, kText},
    {IDC_TEX_AUTO_SOFT_LABEL, C::Static, "경계 폭", 126, 337, 36, 8, kText},
    {IDC_TEX_AUTO_SLOPE_LABEL, C::Static, "경사(도)", 12, 349, 34, 8, kText},
    {IDC_TEX_AUTO_SLOPE_MIN, C::Edit, "", 48, 347, 34, 12, kEdit},
    {IDC_TEX_AUTO_SLOPE_MAX, C::Edit, "", 86, 347, 34, 12, kEdit},
    {IDC_TEX_AUTO_SLOPE_SOFT, C::Edit, "", 124, 347, 34, 12, kEdit},
    {IDC_TEX_AUTO_HEIGHT_LABEL, C::Static, "높이", 12, 364, 34, 8, kText},
    {IDC_TEX_AUTO_HEIGHT_MIN, C::Edit, "", 48, 362, 34, 12, kEdit},
    {IDC_TEX_AUTO_HEIGHT_MAX, C::Edit, "", 86, 362, 34, 12, kEdit},
    {IDC_TEX_AUTO_HEIGHT_SOFT, C::Edit, "", 124, 362, 34, 12, kEdit},
    {IDC_TEX_AUTO_PAINT, C::Button, "자동 칠하기", 48, 379, 110, 14, kPush},
};

inline constexpr ControlTemplate kLightControl[] = {
    {IDC_LIGHT_STYLE_GROUP, C::Button, "광원 스타일", 5, 5, 180, 30, kGroupBox},
    {IDC_LIGHT_POINT, C::Button, "점광원", 11, 16, 37, 10, kFirstRadio},
    {IDC_LIGHT_DIRECTIONAL, C::Button, "방향광원", 54, 16, 37, 10, kRadio},
    {IDC_LIGHT_OFF, C::Button, "조명끄기", 97, 16, 43, 10, kRadio},
    {IDC_LIGHT_RESET, C::Button, "초기화", 149, 14, 28, 14, kPush | WS_GROUP},

    {IDC_LIGHT_AMBIENT_GROUP, C::Button, "환경광 색상", 5, 37, 180, 69, kGroupBox},
    {IDC_LIGHT_AMBIENT_R_LABEL, C::Static, "Red", 9, 45, 30, 8, kText},
    {IDC_LIGHT_AMBIENT_G_LABEL, C::Static, "Green", 9, 64, 30, 8, kText},
    {IDC_LIGHT_AMBIENT_B_LABEL, C::Static, "Blue", 9, 84, 30, 8, kText},
    {IDC_LIGHT_AMBIENT_R, C::Trackbar, "", 7, 53, 135, 12, kTrackbar},
    {IDC_LIGHT_AMBIENT_G, C::Trackbar, "", 7, 72, 135, 12, kTrackbar},
    {IDC_LIGHT_AMBIENT_B, C::Trackbar, "", 7, 92, 135, 12, kTrackbar},
    {IDC_LIGHT_AMBIENT_R_EDIT, C::Edit, "", 150, 51, 32, 12, kEdit},
    {IDC_LIGHT_AMBIENT_G_EDIT, C::Edit, "", 150, 70, 32, 12, kEdit},
    {IDC_LIGHT_AMBIENT_B_EDIT, C::Edit, "", 150, 89, 32, 12, kEdit},

    {IDC_LIGHT_DIFFUSE_GROUP, C::Button, "난반사광 색상", 5, 107, 180, 78, kGroupBox},
    {IDC_LIGHT_DIFFUSE_R_LABEL, C::Static, "Red", 9, 115, 30, 8, kText},
    {IDC_LIGHT_DIFFUSE_G_LABEL, C::Static, "Green", 9, 134, 30, 8, kText},
    {IDC_LIGHT_DIFFUSE_B_LABEL, C::Static, "Blue", 9, 155, 30, 8, kText},
    {IDC_LIGHT_DIFFUSE_R, C::Trackbar, "", 7, 123, 135, 12, kTrackbar},
    {IDC_LIGHT_DIFFUSE_G, C::Trackbar, "", 7, 142, 135, 12, kTrackbar},
    {IDC_LIGHT_DIFFUSE_B, C::Trackbar, "", 7, 163, 135, 12, kTrackbar},
    {IDC_LIGHT_DIFFUSE_R_EDIT, C::Edit, "", 150, 121, 32, 12, kEdit},
    {IDC_LIGHT_DIFFUSE_G_EDIT, C::Edit, "", 150, 140, 32, 12, kEdit},
    {IDC_LIGHT_DIFFUSE_B_EDIT, C::Edit, "", 150, 160, 32, 12, kEdit},

    {IDC_LIGHT_SPECULAR_GROUP, C::Button, "정반사광 색상", 5, 186, 180, 70, kGroupBox},
    {IDC_LIGHT_SPECULAR_R_LABEL, C::Static, "Red", 9, 194, 30, 8, kText},
    {IDC_LIGHT_SPECULAR_G_LABEL, C::Static, "Green", 9, 214, 30, 8, kText},
    {IDC_LIGHT_SPECULAR_B_LABEL, C::Static, "Blue", 9, 234, 30, 8, kText},
    {IDC_LIGHT_SPECULAR_R, C::Trackbar, "", 7, 202, 135, 12, kTrackbar},
    {IDC_LIGHT_SPECULAR_G, C::Trackbar, "", 7, 222, 135, 12, kTrackbar},
    {IDC_LIGHT_SPECULAR_B, C::Trackbar, "", 7, 242, 135, 12, kTrackbar},
    {IDC_LIGHT_SPECULAR_R_EDIT, C::Edit, "", 150, 201, 32, 12, kEdit},
    {IDC_LIGHT_SPECULAR_G_EDIT, C::Edit, "", 150, 220, 32, 12, kEdit},
    {IDC_LIGHT_SPECULAR_B_EDIT, C::Edit, "", 150, 238, 32, 12, kEdit},

    {IDC_LIGHT_CONTROL_GROUP, C::Button, "조명 컨트롤", 5, 257, 180, 109, kGroupBox},
    {IDC_LIGHT_X_LABEL, C::Static, "X축 위치", 9, 265, 50, 8, kText},
    {IDC_LIGHT_X, C::Trackbar, "", 7, 273, 135, 12, kTrackbar},
    {IDC_LIGHT_X_EDIT, C::Edit, "", 150, 271, 32, 12, kEdit},
    {IDC_LIGHT_Y_LABEL, C::Static, "Y축 위치", 9, 284, 50, 8, kText},
    {IDC_LIGHT_Y, C::Trackbar, "", 7, 292, 135, 12, kTrackbar},
    {IDC_LIGHT_Y_EDIT, C::Edit, "", 150, 291, 32, 12, kEdit},
    {IDC_LIGHT_Z_LABEL, C::Static, "Z축 위치", 9, 303, 50, 8, kText},
    {IDC_LIGHT_Z, C::Trackbar, "", 7, 311, 135, 12, kTrackbar},
    {IDC_LIGHT_Z_EDIT, C::Edit, "", 150, 309, 32, 12, kEdit},
    {IDC_LIGHT_RANGE_LABEL, C::Static, "조명 도달 거리", 9, 323, 70, 8, kText},
    {IDC_LIGHT_RANGE, C::Trackbar, "", 7, 331, 135, 12, kTrackbar},
    {IDC_LIGHT_RANGE_EDIT, C::Edit, "", 150, 328, 32, 12, kEdit},
    {IDC_LIGHT_ATTEN_LABEL, C::Static, "조명 감쇠", 9, 344, 50, 8, kText},
    {IDC_LIGHT_ATTEN, C::Trackbar, "", 7, 352, 135, 12, kTrackbar},
    {IDC_LIGHT_ATTEN_EDIT, C::Edit, "", 150, 348, 32, 12, kEdit},
};

} // namespace detail

inline constexpr DialogTemplate kDialogNewTerrain{
    IDD_NEW_TERRAIN, "Terrain생성",      173, 83, "MS Shell Dlg", 9,
    detail::kModal,  detail::kNewTerrain};
inline constexpr DialogTemplate kDialogTabMenu{
    IDD_TAB_MENU, "", 198, 367, "MS Shell Dlg", 9, detail::kChildForm, detail::kTabMenu};
inline constexpr DialogTemplate kDialogMapControl{
    IDD_MAP_CONTROL, "", 209, 368, "MS Shell Dlg", 9, detail::kChildForm, detail::kMapControl};
inline constexpr DialogTemplate kDialogTextureControl{
    IDD_TEXTURE_CONTROL,    "", 243, 403, "MS Shell Dlg", 9, detail::kChildForm,
    detail::kTextureControl};
inline constexpr DialogTemplate kDialogLightControl{
    IDD_LIGHT_CONTROL, "", 283, 403, "MS Shell Dlg", 9, detail::kChildForm, detail::kLightControl};

} // namespace res
