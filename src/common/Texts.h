// The texts the stub shows its user, each named once.  The stub shows them
// from here, and the Windows test programs expect them from here, so a text
// changed in one place is changed for both.  UTF-8; the Korean texts are the
// program's own, the few English ones are status lines.  Dialog templates
// keep their texts in src/resources.  Macros, so that each stays a literal:
// the compiler keeps one copy of a text however many routines show it,
// which named arrays would not give the stub's image.
#ifndef SFX_TEXTS_H
#define SFX_TEXTS_H

// Message box captions.
#define CAPTION_ERROR "에러..."
#define CAPTION_ERROR_PLAIN "에러"
#define CAPTION_CANNOT_OPEN "파일을 열 수 없음..."
#define CAPTION_CANNOT_CLOSE "파일을 닫을 수 없음..."
#define CAPTION_FOLDER_ERROR "디렉토리의 에러..."
#define CAPTION_ARCHIVE_ERROR "압축파일내의 에러..."
#define CAPTION_EXTRACT_ERROR "압축해제 에러..."
#define CAPTION_ALL_DONE "압축해제완료"
#define CAPTION_ITEMS_LEFT "압축해제에러"
#define CAPTION_STOP "압축해제"

// Message box texts (many boxes show a path or a name instead).
#define TEXT_BAD_NAME "잘못된 파일이름."
#define TEXT_UNKNOWN_ENTRY "알수없는 압축파일"
#define TEXT_NO_HEADER "압축파일의 헤더를 읽지못함"
#define TEXT_READ_ERROR "압축파일 읽기에러."
#define TEXT_ALL_DONE "모든 파일의 압축을 해제함."
#define TEXT_ITEMS_LEFT "선택된 파일의 압축을 해제하지 못함."
#define TEXT_NOT_THE_RUN_FILE "압축을 해제한 파일이 아니므로 실행하지 않음."
#define TEXT_CANNOT_CLOSE_OWN "파일을 닫을 수 없음"
#define TEXT_CANNOT_MAKE_FOLDER "디렉토리를 만들 수 없습니다."
#define TEXT_STOP_QUESTION "압축해제를 멈출까요?"
// Behind the existing file's name in the file-exists prompt.
#define TEXT_EXISTS_QUESTION "...가(은) 이미 존재합니다, 겹쳐쓸까요?"

// The status line.
#define STATUS_EXTRACTING "Extracting: "
#define STATUS_ITEMS_LEFT "The selected file(s) couldn't get extracted"
#define STATUS_UNREAD "The archive couldn't be read to its end"

#endif
