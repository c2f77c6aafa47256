#include "app/Video.h"

REGISTER_MANAGED_OBJECT_CLASS(Video);

std::string Video::videoPath() const {
    return valueForKey("videoPath").string();
}
void Video::setVideoPath(std::string value) {
    setValue(std::move(value), "videoPath");
}
std::string Video::soundPath() const {
    return valueForKey("soundPath").string();
}
void Video::setSoundPath(std::string value) {
    setValue(std::move(value), "soundPath");
}
std::string Video::title() const {
    return valueForKey("title").string();
}
void Video::setTitle(std::string value) {
    setValue(std::move(value), "title");
}
std::string Video::thumbPath() const {
    return valueForKey("thumbPath").string();
}
void Video::setThumbPath(std::string value) {
    setValue(std::move(value), "thumbPath");
}
NSDate Video::creationDate() const {
    return valueForKey("creationDate").date();
}
void Video::setCreationDate(NSDate value) {
    setValue(Value(value), "creationDate");
}
