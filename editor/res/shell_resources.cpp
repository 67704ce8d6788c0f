#include "shell_resources.h"

#include "../resource.h"

#include <map>

QString LoadResString(int id) {
    static const std::map<int, const char*> table = {
        {IDP_OLE_INIT_FAILED, "OLE를 초기화할 수 없습니다. OLE 라이브러리 버전이 올바른지 "
                              "확인하십시오."},
        {IDS_APP_TITLE, "Veldmark"},
        {AFX_IDS_APP_TITLE, "Veldmark"},
        {AFX_IDS_IDLEMESSAGE, "준비"},
        {IDS_UNTITLED, "제목 없음"},
        {IDS_SAVE_CHANGES, "변경 내용을 저장하시겠습니까?"},
        {IDS_UNDONE, "실행 취소: %1"},
        {IDS_REDONE, "다시 실행: %1"},
        {ID_INDICATOR_CAPS, "CAP"},
        {ID_INDICATOR_NUM, "NUM"},
        {ID_INDICATOR_SCRL, "SCRL"},
    };
    auto it = table.find(id);
    return it == table.end() ? QString() : QString::fromUtf8(it->second);
}

const std::vector<MenuPopupResource>& MainFrameMenu() {
    static const std::vector<MenuPopupResource> menu = {
        {"파일(&F)",
         {{"저장(&S)\tCtrl+S", ID_SAVE_MAP},
          {"다른 이름으로 저장(&A)...\tCtrl+Shift+S", ID_FILE_SAVE_AS},
          {"불러오기(&L)\tCtrl+O", ID_LOAD_MAP},
          {"텍스쳐 불러오기(&L)", ID_LOAD_TEXTURE},
          {"끝내기(&X)", ID_APP_EXIT}}},
        {"편집(&E)",
         {{"실행 취소(&U)\tCtrl+Z", ID_EDIT_UNDO},
          {"다시 실행(&R)\tCtrl+Y", ID_EDIT_REDO},
          {nullptr, 0},
          {"잘라내기(&T)\tCtrl+X", ID_EDIT_CUT},
          {"복사(&C)\tCtrl+C", ID_EDIT_COPY},
          {"붙여넣기(&P)\tCtrl+V", ID_EDIT_PASTE}}},
        {"보기(&V)", {{"상태 표시줄(&S)", ID_VIEW_STATUS_BAR}}},
        {"도움말(&H)", {{"Veldmark 정보(&A)...", ID_APP_ABOUT}}},
    };
    return menu;
}

const std::vector<AcceleratorResource>& MainFrameAccelerators() {
    static const std::vector<AcceleratorResource> table = {
        {QKeySequence(Qt::CTRL | Qt::Key_C), ID_EDIT_COPY},
        {QKeySequence(Qt::CTRL | Qt::Key_Insert), ID_EDIT_COPY},
        {QKeySequence(Qt::CTRL | Qt::Key_V), ID_EDIT_PASTE},
        {QKeySequence(Qt::SHIFT | Qt::Key_Insert), ID_EDIT_PASTE},
        {QKeySequence(Qt::ALT | Qt::Key_Backspace), ID_EDIT_UNDO},
        {QKeySequence(Qt::CTRL | Qt::Key_Z), ID_EDIT_UNDO},
        {QKeySequence(Qt::CTRL | Qt::Key_Y), ID_EDIT_REDO},
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), ID_EDIT_REDO},
        {QKeySequence(Qt::CTRL | Qt::Key_S), ID_SAVE_MAP},
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), ID_FILE_SAVE_AS},
        {QKeySequence(Qt::CTRL | Qt::Key_O), ID_LOAD_MAP},
        {QKeySequence(Qt::SHIFT | Qt::Key_Delete), ID_EDIT_CUT},
        {QKeySequence(Qt::CTRL | Qt::Key_X), ID_EDIT_CUT},
        {QKeySequence(Qt::Key_F6), ID_NEXT_PANE},
        {QKeySequence(Qt::SHIFT | Qt::Key_F6), ID_PREV_PANE},
    };
    return table;
}
